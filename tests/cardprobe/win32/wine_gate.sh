# Sourced by the wine scripts. wine32 needs a kernel that executes 32-bit
# programs; on one that does not, the test reports itself skipped (CTest's
# skip status, 77) with the reason, instead of failing on wine's first exec.
# CARDPROBE_EXEC_CHECK runs CARDPROBE_I386_PROBE, a 32-bit program that only exits.
wine_gate() {
  gate_status=0
  gate_output=$("${CARDPROBE_EXEC_CHECK:?}" "${CARDPROBE_I386_PROBE:?}") || gate_status=$?
  case $gate_status in
    0) ;;
    77)
      echo "skipped: wine32 cannot run here, the kernel does not execute 32-bit programs ($gate_output)"
      exit 77
      ;;
    *)
      echo "the 32-bit probe failed: $gate_output" >&2
      exit 1
      ;;
  esac
}
