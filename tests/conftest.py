"""Fixtures shared by the test modules that ask for them."""
import pytest

from fallback import namespace_restored


@pytest.fixture
def pristine_namespace():
    """Whatever a test rebinds in the module's namespace is put back afterwards."""
    with namespace_restored():
        yield
