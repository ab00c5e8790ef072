# The two commands: `make demo` and `make test`. Both set everything up themselves.
.PHONY: demo test bench docs clean

demo:
	@bash scripts/demo.sh $(ARGS)

test:
	@bash scripts/test.sh

# The documentation site in build/site (MkDocs), warnings as errors.
docs:
	@bash scripts/docs.sh

# Native benchmarks against hand-written baselines, then kestrum against other libraries;
# the table goes to bench/results/.
bench:
	@bash scripts/bench.sh $(ARGS)

# One manylinux wheel per interpreter found, in dist/; wheel-test installs each into a fresh
# environment without compiler or CMake and runs the Python tests against it.
.PHONY: wheel wheel-test
wheel:
	@bash scripts/wheel.sh

wheel-test:
	@bash scripts/wheel_test.sh

clean:
	rm -rf build dist .venv .venv-*

# Reliability checks: the tests under AddressSanitizer + UndefinedBehaviorSanitizer, the
# libFuzzer targets for SECONDS seconds each (fuzz-smoke: 30), memcheck over an end-to-end run.
.PHONY: sanitize fuzz fuzz-smoke valgrind
SECONDS ?= 60

sanitize:
	@bash scripts/sanitize.sh

fuzz:
	@bash scripts/fuzz.sh $(SECONDS)

fuzz-smoke:
	@bash scripts/fuzz.sh 30 1

valgrind:
	@bash scripts/valgrind.sh
