# Sourced first by each script that starts Wine programs, before it reads its arguments: runs
# the script again with the kernel's address randomization off, for it and all it starts.
#
# Debian's wine64 comes without Wine's preloader, so nothing holds Windows' fixed addresses free
# before Linux places the loader's heap, anywhere in a 1 GB span above it. Now and then (about one
# start in 2,500) the heap covers 0x7ffe0000, where the shared user data must go, and the program
# dies before its first line: "failed to map the shared user data: c0000018", exit status 1.
# Without randomization the heap starts right after the loader, far below.
if [ $(( 0x$(cat /proc/self/personality 2>/dev/null || echo 0) & 0x40000 )) -eq 0 ] &&
   setarch "$(uname -m)" -R true 2>/dev/null; then
    exec setarch "$(uname -m)" -R "$0" "$@"
fi
