"""PASS and FAIL lines for the checks of a run under Wine, and the final count."""


class Report:
    passed = failed = 0

    def check(self, name, ok, detail=""):
        print(f"{'PASS' if ok else 'FAIL'}  {name}: {detail}", flush=True)
        self.passed, self.failed = self.passed + bool(ok), self.failed + (not ok)

    def guarded(self, step, *args):
        try:
            return step(*args)
        except Exception as e:  # noqa: BLE001 - whatever stopped it, it is a failure
            self.check(step.__name__, False, f"stopped: {type(e).__name__}: {e}")

    def end(self, label):
        print(f"{label}: {self.passed} passed, {self.failed} failed")
        return 0 if self.passed and not self.failed else 1
