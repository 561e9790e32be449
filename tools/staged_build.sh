# Sourced by the instrumented runs: builds the extension with extra compiler
# flags into its own build tree and stages it with the package sources in a
# temporary directory, so that the developer build in proofmark_core/ is left
# as it was. Sets STAGE (prepend it to PYTHONPATH and run Python with -P, so
# that the checkout's own package is not the one imported).
# Usage: staged_build BUILD_DIR CXX_FLAGS LINKER_FLAGS
staged_build() {
  local build=$1 cxx_flags=$2 linker_flags=$3
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DPython_EXECUTABLE="$(command -v "$py")" -DPROOFMARK_COPY_INTO_SOURCE=OFF \
    -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_SHARED_LINKER_FLAGS="$linker_flags" >/dev/null
  cmake --build "$build" >/dev/null
  STAGE=$(mktemp -d)
  trap 'rm -rf "$STAGE"' EXIT
  mkdir "$STAGE/proofmark_core"
  # The package as it is (sources, stubs, markers), without any module built for it.
  find proofmark_core -maxdepth 1 -type f ! -name '*.so' ! -name '*.pyd' \
    -exec cp {} "$STAGE/proofmark_core/" \;
  cp "$build"/verify*"$("$py" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')" \
    "$STAGE/proofmark_core/"
}

# Fails unless `python -P` imports the staged module.
check_staged_import() {
  local imported
  imported=$(PYTHONPATH="$STAGE" "$py" -P -c 'import proofmark_core.verify as m; print(m.__file__)')
  case $imported in
    "$STAGE"/*) ;;
    *) echo "imported $imported instead of the staged build" >&2; return 1 ;;
  esac
}
