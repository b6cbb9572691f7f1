# shellcheck shell=bash disable=SC2154
# Sourced by run.sh: builds what the runs play, each step bounded by a
# timeout (run.sh's source_dir, work_dir, host_build, windows_build and
# wine_run, and its fail).
#
#   build_linux_programs   the clients, the report and the probes, the software
#                          device, and the bare SDL2 program (release preset)
#   build_windows_client   mivo.dll and the Windows client (windows preset),
#                          copied beside each other into wine_run

build_linux_programs() {
    cd "$source_dir" || exit 1
    if [ ! -f "$host_build/build.ninja" ]; then
        timeout -k 5 300 cmake --preset release -B "$host_build" -DMIVO_BUILD_TESTS=OFF \
            >"$work_dir/host-configure.log" 2>&1 || { cat "$work_dir/host-configure.log"; fail "configure"; }
    fi
    timeout -k 5 900 cmake --build "$host_build" --target mivo-compare-client mivo-compare-report \
        mivo-compare-wake-probe mivo-compare-onset \
        >"$work_dir/host-build.log" 2>&1 || { tail -50 "$work_dir/host-build.log"; fail "build"; }
    timeout -k 5 60 "$host_build/bin/mivo-compare-report" --self-check ||
        fail "the capture analysis misjudges known faults"
    # The software device, and the bare SDL2 program, exist only where SDL2 does.
    timeout -k 5 900 cmake --build "$host_build" --target mivo-dsound >>"$work_dir/host-build.log" 2>&1 ||
        fail "the software device (libmivo-dsound.so) did not build; see $work_dir/host-build.log"
    timeout -k 5 900 cmake --build "$host_build" --target mivo-compare-sdl >>"$work_dir/host-build.log" 2>&1 ||
        fail "the bare SDL2 program did not build; see $work_dir/host-build.log"
}

build_windows_client() {
    # The host's compiler settings (sanitizers and the like) must not leak
    # into the cross build.
    (
        unset CC CXX CFLAGS CXXFLAGS LDFLAGS CPPFLAGS
        if [ ! -f "$windows_build/build.ninja" ]; then
            timeout -k 5 300 cmake --preset windows -B "$windows_build" -DMIVO_BUILD_EXAMPLES=OFF \
                >"$work_dir/windows-configure.log" 2>&1 || exit 1
        fi
        timeout -k 5 900 cmake --build "$windows_build" --target mivo-compare-client \
            >"$work_dir/windows-build.log" 2>&1 || exit 1
        mkdir -p "$wine_run"
        cp "$windows_build/bin/mivo-compare-client.exe" "$windows_build/bin/mivo.dll" "$wine_run/"
    ) || { tail -50 "$work_dir/windows-build.log" "$work_dir/windows-configure.log" 2>/dev/null; fail "Windows build"; }
}
