#!/usr/bin/env bash
# Creates (or repairs) a Python 3.13 virtual environment holding what the
# build and the tests need: scikit-build-core for `pip install .` without
# build isolation, pytest and numpy.
#   tools/ensure_venv.sh VENV_DIR
set -euo pipefail

venv=${1:?usage: ensure_venv.sh VENV_DIR}
requirements=("scikit-build-core>=0.10" "pytest" "numpy")

find_python() {
    # A pyenv shim named python3.13 may be on PATH without resolving, so the
    # candidate must actually run.
    local exe
    if exe=$(python3.13 -c 'import sys; print(sys.executable)' 2>/dev/null) && [[ -n $exe ]]; then
        echo "$exe"
        return 0
    fi
    local candidate
    for candidate in $(ls -d "$HOME"/.pyenv/versions/3.13*/bin/python3.13 2>/dev/null | sort -rV); do
        if "$candidate" -c 'import sys' 2>/dev/null; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

stamp=$venv/.requirements
wanted=$(printf '%s\n' "${requirements[@]}")

if "$venv/bin/python" -c 'import sys; assert sys.version_info[:2] == (3, 13)' 2>/dev/null &&
    [[ -f $stamp && $(cat "$stamp") == "$wanted" ]]; then
    exit 0
fi

if ! python=$(find_python); then
    echo "error: python3.13 not found: looked for python3.13 on PATH and in" \
        "~/.pyenv/versions/3.13*/bin; install Python 3.13 (e.g. 'pyenv install 3.13')" >&2
    exit 1
fi

echo "creating $venv with $python"
"$python" -m venv --clear "$venv"
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check "${requirements[@]}"
echo "$wanted" >"$stamp"
