"""The package tests' one way to report a failed check; `failures` counts them."""

failures = 0


def check(condition, message):
    global failures
    if not condition:
        failures += 1
        print(f"FAILED: {message}", flush=True)
    return condition
