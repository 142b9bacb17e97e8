#!/usr/bin/env bash
# Mutation check of the test suite: plants one small deliberate fault at a
# time in a scratch copy of the tree and expects `make test` to fail on it.
#   tools/mutants.sh [NAME...]     (default: every mutant, in table order)
#   tools/mutants.sh --list
# The scratch copy (MUTANTS_DIR, default build/mutants/src) keeps its build
# directories between mutants and between runs, so each mutant costs an
# incremental rebuild. It is synchronised from the working tree first
# (tracked and untracked, not ignored files, compared by content), so
# uncommitted changes are checked too; the working tree is never modified.
# Each mutant is an exact text substitution that must match exactly once in
# its file, so a mutant whose code has moved is reported rather than skipped.
# Output: one line per mutant, then `mutants_caught=N/M`. The exit status is
# 0 only when every mutant was applied, built and caught. Logs of each run
# are kept in $MUTANTS_DIR/../logs.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
scratch=${MUTANTS_DIR:-$root/build/mutants/src}
logs=$(dirname "$scratch")/logs
# Seconds one mutant's build and test may take; a hang counts as caught.
limit=${MUTANTS_TIMEOUT:-1800}
# Stop at the first failing test: one is enough to catch a mutant.
make_args=(test "JOBS=${JOBS:-2}" CTEST_FLAGS=--stop-on-failure "PYTEST_FLAGS=-x -p no:cacheprovider")

names=() files=() olds=() news=()
mutant() {
    names+=("$1") files+=("$2") olds+=("$3") news+=("$4")
}

# ---- the mutants: name, file, exact text, replacement ----------------------
mutant lif_leak_sign core/models/lif_neuron.hpp \
    '(total + (v_rest - v))' '(total + (v - v_rest))'
mutant delay_rounding core/engine/shard.cpp \
    'if (!(q >= 1.5))' 'if (!(q >= 2.5))'
mutant stdp_depression_swapped core/engine/stdp_kernels.hpp \
    'w = spiked_local[local] ? w : depressed;' 'w = spiked_local[local] ? depressed : w;'
mutant stdp_potentiation_sign core/engine/stdp_kernels.hpp \
    'clamp_weight(w + p.a_plus * trace_value[pre]' 'clamp_weight(w - p.a_plus * trace_value[pre]'
mutant poisson_rate_units core/engine/poisson_inputs.cpp \
    'static_cast<double>(dt_ms) / 1000.0' 'static_cast<double>(dt_ms) / 100.0'
mutant input_sum_order core/engine/synapse_layout.cpp \
    'r.pre < last_pre[r.post]' 'r.pre > last_pre[r.post]'
mutant bulk_index_range core/engine/sim_engine_bulk.cpp \
    'if (static_cast<std::uint64_t>(value) >= n)' 'if (static_cast<std::uint64_t>(value) > n)'
mutant monitor_sample_phase core/engine/recording.cpp \
    'if (++r->ticks_seen % r->every != 0)' 'if (r->ticks_seen++ % r->every != 0)'
mutant state_inflight_spikes_dropped core/engine/engine_state.cpp \
    'm.history.push(history_tick[i], history_dt[i], tick_spikes);' \
    'if (false) m.history.push(history_tick[i], history_dt[i], tick_spikes);'
mutant state_version_off_by_one core/format/state_document.cpp \
    'if (version->as_u64() > kStateVersion) {' 'if (version->as_u64() > kStateVersion + 1) {'
mutant topology_duplicate_node_id core/format/topology_validate.cpp \
    'return TopologyError::duplicate_node_id(n.id);' '{}'
mutant weights_body_length core/format/weights_codec.cpp \
    'if (body != expected_body)' 'if (body < expected_body)'
mutant float_format_leading_zero core/util/float_format.cpp \
    'if (point <= 0) {' 'if (point < 0) {'
mutant fsync_skipped core/store/atomic_file.cpp \
    'while (fs_->sync(fd_) != 0) {' 'while (false) {'
mutant remove_neuron_keeps_incoming core/store/graph_edits.cpp \
    'return e.pre == id || e.post == id;' 'return e.pre == id;'
mutant random_seed_self_edges core/seeds/random_seed.cpp \
    'if (j == i)' 'if (j == i && false)'
mutant stimulate_nan_current python/sim.cpp \
    '!check_finite("current", current) ||' ''
mutant convert_infinity_accepted python/convert.cpp \
    'if (!std::isfinite(value)) {' 'if (std::isnan(value)) {'

if [[ ${1:-} == --list ]]; then
    for i in "${!names[@]}"; do printf '%s %s\n' "${names[$i]}" "${files[$i]}"; done
    exit 0
fi

selected=()
if (($#)); then
    for want in "$@"; do
        found=
        for i in "${!names[@]}"; do
            [[ ${names[$i]} == "$want" ]] && { selected+=("$i"); found=1; }
        done
        [[ -n $found ]] || { echo "mutants.sh: no mutant named '$want'" >&2; exit 2; }
    done
else
    selected=("${!names[@]}")
fi

# ---- the scratch copy --------------------------------------------------------
# Only files whose content differs are copied, and a copy gets a fresh mtime:
# unchanged files keep theirs and are not rebuilt, changed ones always are
# (even when the working tree's file is older than a mutant built from it).
sync_scratch() {
    mkdir -p "$scratch" "$logs"
    local wanted present
    wanted=$(cd "$root" && git ls-files -co --exclude-standard | sort)
    while IFS= read -r f; do
        [[ -f $root/$f ]] || continue
        if ! cmp -s "$root/$f" "$scratch/$f"; then
            mkdir -p "$(dirname "$scratch/$f")"
            cp "$root/$f" "$scratch/$f"
        fi
    done <<<"$wanted"
    # Files since deleted from the working tree (a removed test, say).
    present=$(cd "$scratch" && find . \( -path ./build -o -path './.venv*' -o -name __pycache__ \
        -o -name .pytest_cache \) -prune -o -type f -print | sed 's|^\./||' | sort)
    comm -13 <(echo "$wanted") <(echo "$present") | while IFS= read -r f; do
        [[ -n $f ]] && rm -f "$scratch/$f"
    done
}

# Replaces the one occurrence of $2 with $3 in file $1; fails when the text
# occurs zero or several times.
substitute() {
    python3 - "$1" "$2" "$3" <<'EOF'
import sys
path, old, new = sys.argv[1:]
with open(path, encoding="utf-8") as f:
    text = f.read()
count = text.count(old)
if count != 1:
    sys.exit(f"the text occurs {count} times")
with open(path, "w", encoding="utf-8") as f:
    f.write(text.replace(old, new))
EOF
}

run_tests() {
    (cd "$scratch" && timeout "$limit" make "${make_args[@]}") >"$1" 2>&1
}

# Which test failed, from ctest's or pytest's summary.
first_failure() {
    sed -n -e 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*(Failed).*/\1/p' -e 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*(\(SEGFAULT\|Subprocess aborted\|Timeout\)).*/\1/p' \
        -e 's/^FAILED \([^ ]*\).*/\1/p' "$1" | head -n 1
}

sync_scratch
if [[ -z ${MUTANTS_SKIP_BASELINE:-} ]]; then
    # The unmutated tree must pass, or every mutant would look caught.
    if ! run_tests "$logs/baseline.log"; then
        echo "baseline: make test fails without any mutant; see $logs/baseline.log" >&2
        exit 1
    fi
fi

caught=0 total=0 status=0
for i in "${selected[@]}"; do
    name=${names[$i]} file=${files[$i]}
    total=$((total + 1))
    log=$logs/$name.log
    saved=$(mktemp)
    cp "$scratch/$file" "$saved"
    if ! why=$(substitute "$scratch/$file" "${olds[$i]}" "${news[$i]}" 2>&1); then
        printf '%-32s %-38s NOT APPLIED (%s)\n' "$name" "$file" "$why"
        rm -f "$saved"
        status=1
        continue
    fi
    run_tests "$log"
    rc=$?
    # Restored by copy, so the file is newer than anything built from the mutant.
    cp "$saved" "$scratch/$file"
    rm -f "$saved"
    if ((rc == 124)); then
        result="caught (timed out)"
    elif ((rc == 0)); then
        result=SURVIVED
    elif grep -qE '(The following tests FAILED|Errors while running CTest|^FAILED |[0-9]+ failed)' "$log"; then
        result="caught by $(first_failure "$log")"
    else
        # make failed before any test failed: the mutant did not build.
        result="BUILD FAILED (see $log)"
    fi
    [[ $result == caught* ]] && caught=$((caught + 1)) || status=1
    printf '%-32s %-38s %s\n' "$name" "$file" "$result"
done
echo "mutants_caught=$caught/$total"
exit "$status"
