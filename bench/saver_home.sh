# Sourced by the CPU benchmarks. A saver home of their own, its data file made once,
# outside the measured runs; its settings written again before every run, since a run
# stores its screen size and the next run would ask for that size on another screen.
#   make_home DIR PROGRAM        write_settings DIR DURATION

make_home() {
  mkdir -p "$1"
  GLIMMERAX_HOME="$1" "$2" /s --headless --size 64x48 --seconds 0.1 >/dev/null 2>&1 || true
}

write_settings() {
  printf 'ImagePath = ""\r\nScreenWidth = 0\r\nScreenHeight = 0\r\nResourcePath = "Default"\r\nLanguageFile = "English.txt"\r\nFullscreen = false\r\nDuration = %s\r\nGameSpeed = 10\r\n' "$2" >"$1/Glimmerax.ini"
}
