# Sourced by the scripts that run Wine outside the tests (demo, screenshots,
# wine-bench). `wine_place NAME ARGS...` returns where this host runs Wine;
# on a host that cannot, it runs the calling script again, whole, in the
# emulated PC (scripts/in-vm), after one line saying so and why, and never
# returns. Then wine_template is the prefix template to start from,
# wine_work where to put scratch prefixes (the emulated PC's memory, never
# its shares), and `scaled N` stretches a wait sized for a native host by
# how much slower Wine is here, as the template's fixture measured it.
# Expects $root (the source tree) and $build (absolute).

wine_place() {
  local name=$1 where
  shift
  wine_template=${E2E_TEMPLATE_DIR:-$build/host/wine-template}
  wine_work=${E2E_WORK_DIR:-$build}
  [ -n "${EMULATED_PC:-}" ] && return 0
  where=$(BUILD=$build "$root/scripts/wine-host") || exit 1
  [ "$where" = native ] && return 0
  echo "$name: Wine runs in an emulated PC here, since ${where#vm: }"
  if ! command -v qemu-system-x86_64 >/dev/null; then
    echo "$name: cannot: qemu-system-x86_64 is missing (scripts/install-deps installs qemu-system-x86)" >&2
    exit 1
  fi
  if [ ! -f "$build/vm/root.img" ]; then
    echo "$name: making the emulated PC first (about 5 minutes, once)"
  fi
  if ! "$root/scripts/vm/make-image" "$build/vm"; then
    echo "$name: cannot: the emulated PC's image could not be made ($build/vm/make-image.log)" >&2
    exit 1
  fi
  local envs=(--env "BUILD=$build") v
  for v in DEMO_ANSWERS BENCH_REPETITIONS; do
    [ -n "${!v:-}" ] && envs+=(--env "$v=${!v}")
  done
  exec "$root/scripts/in-vm" "${envs[@]}" -- "$0" "$@"
}

# Makes the template where needed and reads its measured slowness, which
# boxbot reads too.
wine_ready() {
  local made
  if ! made=$("$root/tests/e2e/make-wine-template" "$wine_template" 2>&1); then
    echo "$made" >&2
    exit 1
  fi
  grep -v 'waits are scaled' <<<"$made" || true
  E2E_TIME_SCALE=$(cat "$wine_template.time-scale" 2>/dev/null || echo 1)
  export E2E_TIME_SCALE
}

scaled() {
  awk -v s="${E2E_TIME_SCALE:-1}" -v n="$1" 'BEGIN { printf "%d", n * s + 0.5 }'
}
