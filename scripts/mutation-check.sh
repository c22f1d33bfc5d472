#!/usr/bin/env bash
# Mutation check of the product: breaks the launcher and corvane-build on purpose, one fault at a
# time (scripts/mutations.txt), and runs the test layers that can see each fault until one fails.
# A fault no layer sees is "missed": the tests have a gap there.
#
#   scripts/mutation-check.sh [--report FILE] [--only ID,ID,...] [--timeout SECONDS] [--mutations LIST]
#   scripts/mutation-check.sh --list
#
# It copies the tracked files of this working tree into build/mutation/src, configures and builds
# the host and win64 presets there once, checks that every layer the entries name passes unmutated
# (a red layer would "catch" every fault: it refuses to go on), then for each entry applies the
# fault, runs its layers in order (rebuilding only the targets of the layer about to run) until one
# fails, and puts the file back. A layer's time-out is three times its unmutated time plus two
# minutes (at least --timeout); a hang counts as caught and is reported as such. Logs of every run
# are kept in build/mutation/logs. Exit status: 0 when every entry was run (caught or missed), 1
# when a fault does not build, 2 on a bad list or a red baseline.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
list=$here/mutations.txt
scratch=$repo/build/mutation
src=$scratch/src
logs=$scratch/logs
jobs=2
report=""
only=""
list_only=false
timeout_floor=""

usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; }

while [ $# -gt 0 ]; do
  case $1 in
    --report) report=${2:?--report needs a file}; shift 2 ;;
    --only) only=${2:?--only needs ids}; shift 2 ;;
    --list) list_only=true; shift ;;
    --timeout) timeout_floor=${2:?--timeout needs seconds}; shift 2 ;;
    --mutations) list=${2:?--mutations needs a file}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "mutation-check: unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done
case $report in ""|/*) ;; *) report=$PWD/$report ;; esac

# --- The Python side: parsing the list, the exact replacement, the copy, and timed runs ----------
read -r -d '' helper <<'PYTHON' || true
import ctypes, fnmatch, hashlib, os, re, shutil, signal, subprocess, sys, time

def fail(message):
    sys.stderr.write("mutation-check: " + message + "\n")
    sys.exit(2)

def unescape(text):
    return text.replace("{|}", "|").replace("{NL}", "\n")

def read_list(path):
    layers, entries = [], []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            fields = line.split(" | ")
            where = "%s:%d" % (path, number)
            if fields[0].strip() == "layer":
                if len(fields) != 7:
                    fail("%s: a layer line has 7 fields: layer | NAME | BUILD | CTEST-ENTRY | HOST-TARGETS | WIN64-TARGETS | CLEAR" % where)
                name, build, entry, host, win, clear = (x.strip() for x in fields[1:])
                if build not in ("host", "win64"):
                    fail("%s: layer %s: the build is host or win64, not %r" % (where, name, build))
                layers.append(dict(name=name, build=build, entry=entry,
                                   host=[] if host == "-" else host.split(),
                                   win64=[] if win == "-" else win.split(),
                                   clear="" if clear == "-" else clear, where=where))
                continue
            if len(fields) != 5:
                fail("%s: an entry has 5 fields: ID | FILE | OLD | NEW | LAYERS (an empty NEW is written as two blanks between the bars; a bar inside a text as {|})" % where)
            ident, file, old, new, names = fields
            ident, file = ident.strip(), file.strip()
            if not re.fullmatch(r"[A-Za-z0-9_.-]+", ident):
                fail("%s: %r is no entry id (letters, digits, . _ -)" % (where, ident))
            if not names.split():
                fail("%s: entry %s names no layer" % (where, ident))
            entries.append(dict(id=ident, file=file, old=unescape(old), new=unescape(new),
                                layers=names.replace(",", " ").split(), where=where))
    ids = [e["id"] for e in entries]
    twice = sorted({i for i in ids if ids.count(i) > 1})
    if twice:
        fail("entry ids used twice: " + ", ".join(twice))
    return layers, entries

def resolve(layers, name):
    """The layer definition for a layer name, with the group part of a pattern filled in."""
    for layer in layers:
        if fnmatch.fnmatchcase(name, layer["name"]):
            group = ""
            if "*" in layer["name"]:
                prefix, _, suffix = layer["name"].partition("*")
                group = name[len(prefix):len(name) - len(suffix)]
            fill = lambda text: text.replace("*", group)
            return dict(layer, name=name, entry=fill(layer["entry"]), clear=fill(layer["clear"]))
    return None

def select(entries, only):
    if not only:
        return entries
    wanted = [i for i in only.split(",") if i]
    known = {e["id"] for e in entries}
    unknown = [i for i in wanted if i not in known]
    if unknown:
        fail("--only names unknown entries: " + ", ".join(unknown))
    return [e for e in entries if e["id"] in wanted]

def check_entry(root, entry):
    path = os.path.join(root, entry["file"])
    if not os.path.isfile(path):
        return "%s: entry %s: no file %s" % (entry["where"], entry["id"], entry["file"])
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    found = text.count(entry["old"])
    if found != 1:
        return "%s: entry %s: the old text occurs %d times in %s (it must occur exactly once)" % (
            entry["where"], entry["id"], found, entry["file"])
    if entry["old"] == entry["new"]:
        return "%s: entry %s: the new text is the old one" % (entry["where"], entry["id"])
    return None

def cmd_entries(listfile, only, root):
    """Checks the selected entries against the files and prints: id, file, layer lines."""
    layers, entries = read_list(listfile)
    chosen = select(entries, only)
    problems = [p for p in (check_entry(root, e) for e in chosen) if p]
    for e in chosen:
        for name in e["layers"]:
            if resolve(layers, name) is None:
                problems.append("%s: entry %s: layer %s is not defined by a 'layer' line" % (e["where"], e["id"], name))
    if problems:
        fail("refusing the list:\n  " + "\n  ".join(problems))
    for e in chosen:
        print("%s\t%s\t%s" % (e["id"], e["file"], " ".join(e["layers"])))

def cmd_layer(listfile, name):
    """Prints the layer's build, ctest entry, host targets, win64 targets and folder to clear."""
    layers, _ = read_list(listfile)
    layer = resolve(layers, name)
    if layer is None:
        fail("layer %s is not defined" % name)
    # "-" for an empty field: the shell's read would fold two tabs into one.
    fields = [layer["build"], layer["entry"], " ".join(layer["host"]), " ".join(layer["win64"]), layer["clear"]]
    print("\t".join(f if f else "-" for f in fields))

def cmd_show(listfile):
    _, entries = read_list(listfile)
    for e in entries:
        print("%-24s %-40s %s" % (e["id"], e["file"], " ".join(e["layers"])))

def cmd_apply(listfile, ident, root, backup):
    _, entries = read_list(listfile)
    entry = next(e for e in entries if e["id"] == ident)
    problem = check_entry(root, entry)
    if problem:
        fail(problem)
    path = os.path.join(root, entry["file"])
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    # The original goes aside first, so that an interrupted run can put it back.
    with open(backup, "w", encoding="utf-8", newline="") as f:
        f.write(entry["file"] + "\n" + text)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text.replace(entry["old"], entry["new"], 1))

def cmd_restore(root, backup):
    if not os.path.exists(backup):
        return
    with open(backup, encoding="utf-8", newline="") as f:
        file = f.readline().rstrip("\n")
        text = f.read()
    # Written anew (not copied with its old time): whatever was built from the fault is older now.
    with open(os.path.join(root, file), "w", encoding="utf-8", newline="") as f:
        f.write(text)
    os.remove(backup)

def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.digest()

def cmd_sync(repo, dest):
    """Makes dest hold exactly the tracked files of repo's working tree (dest/build stays). Only
    files whose bytes differ are written, so that unchanged ones keep their times and the builds
    stay incremental."""
    names = subprocess.run(["git", "-C", repo, "ls-files", "-z"], check=True, capture_output=True).stdout
    tracked = [n.decode() for n in names.split(b"\0") if n]
    wanted = set()
    for name in tracked:
        source = os.path.join(repo, name)
        if not os.path.lexists(source):
            continue  # deleted in the working tree
        wanted.add(name)
        target = os.path.join(dest, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.islink(source):
            if os.path.lexists(target) and (not os.path.islink(target) or os.readlink(target) != os.readlink(source)):
                os.remove(target)
            if not os.path.lexists(target):
                os.symlink(os.readlink(source), target)
            continue
        if os.path.islink(target):
            os.remove(target)
        if not os.path.exists(target) or digest(source) != digest(target):
            shutil.copyfile(source, target)
        shutil.copymode(source, target)
    for top, dirs, files in os.walk(dest, topdown=True):
        relative_top = os.path.relpath(top, dest)
        if relative_top == ".":
            dirs[:] = [d for d in dirs if d != "build"]
        for name in files:
            relative = os.path.normpath(os.path.join(relative_top, name))
            if relative not in wanted:
                os.remove(os.path.join(top, name))

def children_of(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if int(fields[1]) == pid:
            found.append(int(entry))
    return found

def cmd_run(seconds, log, command):
    """Runs the command with its output in log; kills it and everything it left behind after
    `seconds`. Exit status: the command's, or 124 after a time-out. Processes the command leaves
    running (a Wine server, an Xvfb of a killed test) are ended too: this process adopts them."""
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
    class Stopped(Exception):
        pass
    def stop(signum, frame):
        raise Stopped()
    # The command runs in a session of its own, which no signal to ours reaches: an interrupt of
    # the check ends it (and what it left) here before the check goes on to put the file back.
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)
    with open(log, "ab") as out:
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                 start_new_session=True)
        timed_out = interrupted = False
        try:
            status = child.wait(timeout=seconds)
        except (subprocess.TimeoutExpired, Stopped) as reason:
            timed_out = isinstance(reason, subprocess.TimeoutExpired)
            interrupted = not timed_out
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
            try:
                os.killpg(child.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            status = child.wait()
        me = os.getpid()
        for sig in (signal.SIGTERM, signal.SIGKILL):
            left = children_of(me)
            for pid in left:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            deadline = time.time() + 5
            while children_of(me) and time.time() < deadline:
                try:
                    os.waitpid(-1, os.WNOHANG)
                except ChildProcessError:
                    break
                time.sleep(0.1)
        if interrupted:
            out.write(b"\nmutation-check: interrupted\n")
            sys.exit(130)
        if timed_out:
            out.write(("\nmutation-check: killed after %d seconds\n" % seconds).encode())
            sys.exit(124)
    sys.exit(status if status >= 0 else 128 - status)

command, args = sys.argv[1], sys.argv[2:]
commands = {"entries": cmd_entries, "layer": cmd_layer, "show": cmd_show, "apply": cmd_apply,
            "restore": cmd_restore, "sync": cmd_sync,
            "run": lambda seconds, log, *argv: cmd_run(int(seconds), log, list(argv))}
if command not in commands:
    fail("unknown helper command " + command)
commands[command](*args)
PYTHON

py() { python3 -c "$helper" "$@"; }

[ -f "$list" ] || { echo "mutation-check: no list $list" >&2; exit 2; }
if $list_only; then
  py show "$list"
  exit 0
fi

# Entries to run (checked against this working tree: each old text exactly once).
entries=$(py entries "$list" "$only" "$repo")
[ -n "$entries" ] || { echo "mutation-check: no entries to run" >&2; exit 2; }

start_time=$(date +%s)
mkdir -p "$src" "$logs"
backup=$scratch/applied
# A fault left in place by an interrupted run goes first, before the copy compares files.
py restore "$src" "$backup"

log() { echo "$*"; [ -z "$report" ] || echo "$*" >> "$report"; }
elapsed() { echo $(( $(date +%s) - $1 )); }
[ -z "$report" ] || : > "$report"

echo "== copying the tracked files of $repo to $src"
py sync "$repo" "$src"

export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
build_log=$logs/build.log
: > "$build_log"
echo "== configuring and building host and win64 in $src/build (log: $build_log)"
build_started=$(date +%s)
(
  cd "$src"
  cmake --preset host >> "$build_log" 2>&1
  cmake --build build/host -j "$jobs" >> "$build_log" 2>&1
  cmake --preset win64 >> "$build_log" 2>&1
  cmake --build build/win64 -j "$jobs" >> "$build_log" 2>&1
) || { echo "mutation-check: the unmutated copy does not build; see $build_log" >&2; exit 2; }
build_seconds=$(elapsed "$build_started")

# --- Layers: where each runs, what it needs built, and its unmutated baseline ---------------------
declare -A layer_build layer_entry layer_host layer_win layer_clear layer_timeout layer_base
used_layers=()
while IFS=$'\t' read -r _ _ names <&3; do
  for name in $names; do
    [ -n "${layer_build[$name]+x}" ] && continue
    IFS=$'\t' read -r b e h w c < <(py layer "$list" "$name")
    [ "$h" != - ] || h=""
    [ "$w" != - ] || w=""
    [ "$c" != - ] || c=""
    layer_build[$name]=$b layer_entry[$name]=$e layer_host[$name]=$h layer_win[$name]=$w layer_clear[$name]=$c
    used_layers+=("$name")
    # A layer that names no ctest entry of its build would count every fault as missed.
    if ! ctest --test-dir "$src/build/$b" -N -R "^${e//./\\.}\$" | grep -q "Total Tests: 1$"; then
      echo "mutation-check: layer $name: build/$b has no ctest entry named \"$e\" (see the layer lines of $list)" >&2
      exit 2
    fi
  done
done 3<<< "$entries"

# Builds the targets one layer runs (host first: the win64 build uses its tools). Without the
# compiler cache: a faulty source must be compiled, and a cache entry that an interrupted build
# (anybody's) left under the faulty text's key may hold the object of the sound one, which would
# count the fault as missed. Nor should hundreds of faulty objects fill the shared cache.
build_layer() {
  local name=$1
  # shellcheck disable=SC2086
  if [ -n "${layer_host[$name]}" ]; then
    CCACHE_DISABLE=1 cmake --build "$src/build/host" -j "$jobs" --target ${layer_host[$name]} || return 1
  fi
  # shellcheck disable=SC2086
  if [ -n "${layer_win[$name]}" ]; then
    CCACHE_DISABLE=1 cmake --build "$src/build/win64" -j "$jobs" --target ${layer_win[$name]} || return 1
  fi
}

# Runs one layer; answers its exit status (124: killed at its time-out).
run_layer() {
  local name=$1 logfile=$2 seconds=$3
  local dir=$src/build/${layer_build[$name]}
  if [ -n "${layer_clear[$name]}" ]; then rm -rf "${dir:?}/${layer_clear[$name]}"; fi
  local status=0
  # ctest ends a test at the time-out (unless the test sets a longer one of its own); the wrapper
  # ends whatever is left a little later.
  py run "$((seconds + 30))" "$logfile" ctest --test-dir "$dir" -R "^${layer_entry[$name]//./\\.}\$" \
    --output-on-failure --timeout "$seconds" || status=$?
  if [ "$status" -ne 0 ] && grep -q '\*\*\*Timeout' "$logfile"; then status=124; fi
  return "$status"
}

# The first test a layer's log names as failed, for the report.
first_failure() {
  local failed
  failed=$(grep -m1 -o '\[  FAILED  \] [^ ]*' "$1" 2>/dev/null | sed 's/^\[  FAILED  \] //; s/,$//' || true)
  [ -n "$failed" ] || failed=$(grep -m1 -o '\*\*\*Exception: [A-Za-z]*' "$1" 2>/dev/null | sed 's/^\*\*\*Exception: /crashed: /' || true)
  echo "$failed"
}

baseline_seconds=$(date +%s)
log "Mutation check of $(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo '?') ($(git -C "$repo" status --porcelain --untracked-files=no 2>/dev/null | grep -q . && echo 'with local changes' || echo 'clean')) from $repo"
log "Baseline (unmutated):"
# Two layers at a time (each has its own Wine prefix and display): the baseline is most of the
# fixed cost of a run.
baseline_one() {
  local name=$1 started status=0
  started=$(date +%s)
  run_layer "$name" "$logs/baseline.$name.log" 3600 || status=$?
  echo "$status $(elapsed "$started")" > "$logs/baseline.$name.result"
}
running=0
for name in "${used_layers[@]}"; do
  rm -f "$logs/baseline.$name.log" "$logs/baseline.$name.result"
  baseline_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait
red=false
for name in "${used_layers[@]}"; do
  read -r status took < "$logs/baseline.$name.result" || { status=1 took=0; }
  layer_base[$name]=$took
  # Generous: the machine may be busy; a fault that makes a layer hang still ends it.
  t=$(( 3 * took + 120 ))
  [ -z "$timeout_floor" ] || [ "$t" -ge "$timeout_floor" ] || t=$timeout_floor
  layer_timeout[$name]=$t
  if [ "$status" -eq 0 ]; then
    log "  $(printf '%-22s' "$name") passes (${took}s, run beside another layer; time-out for faults ${t}s)"
  else
    log "  $(printf '%-22s' "$name") FAILS unmutated (status $status, ${took}s); see $logs/baseline.$name.log"
    red=true
  fi
done
if $red; then
  log "mutation-check: a layer fails without any fault: every fault would count as caught. Refusing to go on."
  exit 2
fi
baseline_seconds=$(elapsed "$baseline_seconds")

trap 'py restore "$src" "$backup"' EXIT
trap 'exit 130' INT TERM

# --- The entries -----------------------------------------------------------------------------------
log "Entries:"
caught=0 missed=0 invalid=0 total=0
declare -A caught_by
missed_ids=() invalid_ids=()
while IFS=$'\t' read -r id file names <&3; do
  total=$((total + 1))
  entry_started=$(date +%s)
  py apply "$list" "$id" "$src" "$backup"
  rm -f "$logs/$id".*.log
  entry_log=$logs/$id.build.log
  : > "$entry_log"
  verdict=""
  for name in $names; do
    # Only what this layer runs is rebuilt, and only when the layers before it missed the fault.
    if ! build_layer "$name" >> "$entry_log" 2>&1; then
      verdict="NOT RUN: the fault does not build (see $entry_log)"
      invalid=$((invalid + 1)); invalid_ids+=("$id")
      break
    fi
    status=0
    run_layer "$name" "$logs/$id.$name.log" "${layer_timeout[$name]}" || status=$?
    [ "$status" -ne 130 ] || exit 130
    if [ "$status" -eq 124 ]; then
      verdict="caught by $name (time-out: it hung)"
    elif [ "$status" -ne 0 ]; then
      failed=$(first_failure "$logs/$id.$name.log")
      verdict="caught by $name${failed:+ ($failed)}"
    fi
    if [ -n "$verdict" ]; then
      caught=$((caught + 1)); caught_by[$name]=$(( ${caught_by[$name]:-0} + 1 ))
      break
    fi
  done
  if [ -z "$verdict" ]; then
    verdict="MISSED by $names"
    missed=$((missed + 1)); missed_ids+=("$id")
  fi
  py restore "$src" "$backup"
  log "  $(printf '%-26s' "$id") $verdict ($(elapsed "$entry_started")s)"
done 3<<< "$entries"

log "Totals: $total entries: $caught caught, $missed missed, $invalid not run"
for name in "${used_layers[@]}"; do
  [ -z "${caught_by[$name]:-}" ] || log "  caught by $(printf '%-22s' "$name") ${caught_by[$name]}"
done
[ ${#missed_ids[@]} -eq 0 ] || log "Missed: ${missed_ids[*]}"
[ ${#invalid_ids[@]} -eq 0 ] || log "Not run: ${invalid_ids[*]}"
log "Time: $(elapsed "$start_time")s in all (build ${build_seconds}s, baseline ${baseline_seconds}s, entries $(( $(elapsed "$start_time") - build_seconds - baseline_seconds ))s) on $(nproc) cores, load at the end $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$invalid" -eq 0 ] || exit 1
exit 0
