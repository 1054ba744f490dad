#!/usr/bin/env bash
# run_pytest.sh PYTHON MODULE_DIR BIN_DIR [PYTEST ARGUMENT...]: runs the
# Python tests of this folder with PYTHON (the interpreter the module was
# built for), the module taken from MODULE_DIR and the programs from BIN_DIR.
# Exits 77 (skipped) when the module was not built or PYTHON lacks pytest
# (python3-pytest); pytest finding no test is a failure.
set -uo pipefail
python=$1 module_dir=$2 bin_dir=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
if [[ ! -x "$python" ]] || ! compgen -G "$module_dir/texture_illumination*.so" >/dev/null; then
  echo "SKIP: the Python module is not built (pybind11-dev, python3-dev, python3-numpy)"
  exit 77
fi
if ! "$python" -c 'import pytest' 2>/dev/null; then
  echo "SKIP: $python has no pytest (python3-pytest)"
  exit 77
fi
status=0
# (No bytecode is written into the source tree.)
PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" TI_BIN_DIR="$bin_dir" \
  "$python" -m pytest -q -p no:cacheprovider "$@" "$here" || status=$?
if ((status == 5)); then
  echo "run_pytest.sh: pytest found no test in $here" >&2
  exit 1
fi
exit "$status"
