import proofmark_core.verify as m


def test_module_imports_compiled():
    assert m.__file__.endswith((".so", ".pyd"))
