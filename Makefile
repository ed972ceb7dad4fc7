# nasscout — the commands a newcomer needs:
#   make test   install what is missing, build, run every test (also under sanitizers)
#   make demo   show the product on a simulated network (see README.md)

PREFIX  ?= /usr/local
DESTDIR ?=
JOBS    ?= $(shell nproc)

# Debian 12 packages the build, the tests and the lab need.
DEB_PACKAGES := cmake make g++ pkg-config \
  libboost-system-dev libboost-thread-dev libboost-date-time-dev libexpat1-dev \
  qt6-base-dev qt6-base-dev-tools libgl-dev libcli11-dev nlohmann-json3-dev \
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
  iproute2 util-linux procps python3 xvfb xauth libcap2-bin fonts-dejavu-core file dpkg-dev \
  libqt6svg6 lintian appstream desktop-file-utils gcovr \
  libsqlite3-dev firewalld dbus-daemon ufw nftables weston qt6-wayland

.PHONY: all deps build test test-default test-asan test-tsan coverage demo run install package bench faultcheck fuzz screenshot clean help
all: build

help:
	@echo "make deps        install the Debian packages that are missing"
	@echo "make build       configure and build into build/"
	@echo "make test        deps + build + every test, also under ASan/UBSan and TSan"
	@echo "make coverage    the default tests on an instrumented build; line and branch coverage"
	@echo "                 per directory, HTML report in build-coverage/coverage/index.html"
	@echo "make demo        the product on a simulated network in private namespaces (window or CLI)"
	@echo "make run         the window on the real network"
	@echo "make install     install under PREFIX (default /usr/local), DESTDIR honoured;"
	@echo "                 SETCAP=1 grants cap_net_bind_service to the bind helper alone"
	@echo "                 (PREFIX/libexec/nasscout/nasscout-bind67), for every user's broadcast search"
	@echo "make package     build a .deb in build/ and check it (lintian, appstreamcli, desktop-file-validate)"
	@echo "make bench       benchmarks (figures go to docs/performance.md by hand)"
	@echo "make faultcheck  apply each seeded fault in tests/faults/ alone and check the suite catches it"
	@echo "make fuzz        run every fuzzer for FUZZ_SECONDS (default 60) each"
	@echo "make screenshot  docs/screenshot.png of the window on the simulated network"
	@echo "make clean       remove the build directories"

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -z "$$missing" ]; then echo "deps: all Debian packages present"; \
	elif [ "$$(id -u)" = 0 ]; then \
	    echo "deps: installing" $$missing; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	else \
	    echo "deps: missing packages; run:"; \
	    echo "  sudo apt-get install -y --no-install-recommends" $$missing; exit 1; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: deps test-default test-asan test-tsan
	@echo "make test: all suites passed"

test-default: build
	ctest --preset default -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

coverage: deps
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	ctest --preset coverage -j $(JOBS)
	scripts/coverage.sh build-coverage

# Only the three programs (target "programs"): the tests and benchmarks are not needed to watch.
demo: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target programs
	scripts/demo.sh

run: build
	@echo "run: searching the real network from this machine"
	build/src/nasscout

install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"
	@if [ "$(SETCAP)" = 1 ]; then \
	    setcap cap_net_bind_service=ep "$(DESTDIR)$(PREFIX)/libexec/nasscout/nasscout-bind67" && \
	        echo "setcap: the bind helper may now bind UDP port 67 for every user's broadcast search"; \
	fi

package: build
	cd build && cpack -G DEB
	@ls -1 build/nasscout_*.deb
	@status=0; packaging/check-package.sh build/nasscout_*.deb || status=$$?; \
	  [ $$status = 0 ] || [ $$status = 77 ] || exit $$status

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	scripts/bench.sh

FUZZ_SECONDS ?= 60
faultcheck: deps
	scripts/faultcheck.sh

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_SECONDS)

screenshot: build
	scripts/screenshot.sh

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-coverage
