# The two commands: `make demo` and `make test`. Both set everything up themselves.
.PHONY: demo test clean

demo:
	@bash scripts/demo.sh $(ARGS)

test:
	@bash scripts/test.sh

clean:
	rm -rf build .venv .venv-*
