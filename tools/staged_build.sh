# Sourced by the instrumented runs: builds the extension with extra compiler
# flags into its own build tree and stages it with the package sources in a
# temporary directory, so that the developer build in proofmark_core/ is left
# as it was. Sets STAGE (prepend it to PYTHONPATH and run Python with -P, so
# that the checkout's own package is not the one imported).
# Usage: staged_build BUILD_DIR CXX_FLAGS LINKER_FLAGS

# The extension modules of the package, as CMakeLists.txt names them.
PROOFMARK_MODULES="verify _turn _command_lines"

staged_build() {
  local build=$1 cxx_flags=$2 linker_flags=$3
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DPython_EXECUTABLE="$(command -v "$py")" -DPROOFMARK_COPY_INTO_SOURCE=OFF \
    -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_SHARED_LINKER_FLAGS="$linker_flags" >/dev/null
  cmake --build "$build" >/dev/null
  STAGE=$(mktemp -d)
  trap 'rm -rf "$STAGE"' EXIT
  # The package as it is (sources, subpackages, stubs, markers), without any
  # module built for it.
  cp -r proofmark_core "$STAGE/"
  find "$STAGE/proofmark_core" \( -name '*.so' -o -name '*.pyd' -o -name __pycache__ \) \
    -prune -exec rm -rf {} +
  local suffix module
  suffix=$("$py" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  for module in $PROOFMARK_MODULES; do
    cp "$build/$module$suffix" "$STAGE/proofmark_core/"
  done
}

# Fails unless `python -P` imports every staged module.
check_staged_import() {
  local module imported
  for module in $PROOFMARK_MODULES; do
    imported=$(PYTHONPATH="$STAGE" "$py" -P -c \
      "import importlib; print(importlib.import_module('proofmark_core.$module').__file__)")
    case $imported in
      "$STAGE"/*) ;;
      *) echo "imported $imported instead of the staged build" >&2; return 1 ;;
    esac
  done
}
