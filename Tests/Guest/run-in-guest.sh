#!/usr/bin/env bash
# Runs one command inside a throw-away virtual machine that has an ALSA
# sequencer, which this host lacks, and hands back its output and exit status.
#
#   run-in-guest.sh [--timeout SECONDS] [--memory MB] [--cpus N] OUTPUT_DIR -- COMMAND [ARG...]
#
# The guest boots the host's own Debian kernel from a busybox initramfs, sees
# the host's root file system read-only over virtio-9p, loads the sequencer
# modules, and runs COMMAND as root (in the current directory, chrooted into
# that root, whose writes stay in the guest's memory). The guest has no
# network. OUTPUT_DIR is the only place written on the host: it is shared
# writable with the guest, keeps the boot files under .guest/, and receives
# the command's output.
#
# The command's output is printed and its exit status returned. When the guest
# cannot boot or run the command, or the time-out passes, a reason and the end
# of the guest's console are printed on standard error and the status is 125
# (124 for the time-out). A machine that lacks what a guest needs (qemu, a
# static busybox, a kernel image it may read) gets the reason on a line
# "SKIPPED: ..." on standard error and the status 77, which the test suite
# reports as a skipped test.
set -euo pipefail

timeout_seconds=300
memory_mb=2048
cpus=4

fail()
{
    echo "run-in-guest: $*" >&2
    exit 125
}

cannot_run_here()
{
    echo "SKIPPED: $*" >&2
    exit 77
}

while [ $# -gt 0 ]; do
    case "$1" in
        --timeout) timeout_seconds="$2"; shift 2 ;;
        --memory)  memory_mb="$2"; shift 2 ;;
        --cpus)    cpus="$2"; shift 2 ;;
        --) shift; break ;;
        -*) fail "unknown option $1" ;;
        *)
            [ -z "${output_dir:-}" ] || fail "more than one output folder given"
            output_dir="$1"; shift ;;
    esac
done

[ -n "${output_dir:-}" ] || fail "no output folder given"
[ $# -gt 0 ] || fail "no command given"

for tool in qemu-system-x86_64 busybox timeout; do
    command -v "$tool" >/dev/null || cannot_run_here "$tool is missing (scripts/install-deps.sh installs it)"
done
busybox_binary="$(command -v busybox)"
file "$busybox_binary" 2>/dev/null | grep -q 'statically linked' \
    || ldd "$busybox_binary" 2>&1 | grep -q 'not a dynamic executable' \
    || cannot_run_here "$busybox_binary is not statically linked (install busybox-static)"

# The kernel must match a module tree on the host, because the guest loads its
# modules from the host's root; a kernel without the sequencer (a cloud kernel,
# say) will not do.
kernel=""
for modules in /lib/modules/*/; do
    version="$(basename "$modules")"
    if [ -e "/boot/vmlinuz-$version" ] && [ -e "$modules/modules.dep" ] \
        && grep -qs '/snd-seq\.ko' "$modules/modules.dep" "$modules/modules.builtin"; then
        kernel="/boot/vmlinuz-$version"
        kernel_version="$version"
    fi
done
[ -n "$kernel" ] || cannot_run_here "no kernel in /boot with modules in /lib/modules (install linux-image-amd64)"
[ -r "$kernel" ] || cannot_run_here "$kernel is not readable by $(id -un) (the guest needs to be run as root)"

mkdir -p "$output_dir"
output_dir="$(cd "$output_dir" && pwd)"
case "$output_dir" in
    /) fail "the output folder cannot be the root" ;;
    *[[:space:]]*) fail "the output folder's path must not contain blanks: $output_dir" ;;
esac

boot_dir="$output_dir/.guest"
rm -rf "$boot_dir"
rm -f "$output_dir/guest-output.log" "$output_dir/guest-status"
mkdir -p "$boot_dir/root/bin" "$boot_dir/root/modules" \
         "$boot_dir/root/proc" "$boot_dir/root/sys" "$boot_dir/root/dev" \
         "$boot_dir/root/host" "$boot_dir/root/scratch" "$boot_dir/root/newroot"
cp "$busybox_binary" "$boot_dir/root/bin/busybox"

# Modules in loading order: each one's dependencies before it, as modules.dep names them.
module_tree="/lib/modules/$kernel_version"
declare -A module_seen=()
module_order=()
add_module()
{
    local name="$1" line path dependency
    if ! line="$(grep -E "(^|/)${name}\.ko(\.[a-z]+)?:" "$module_tree/modules.dep" | head -n 1)" || [ -z "$line" ]; then
        grep -qE "(^|/)${name}\.ko\$" "$module_tree/modules.builtin" 2>/dev/null && return 0
        fail "module $name is neither in $module_tree nor built into the kernel"
    fi
    path="${line%%:*}"
    [ -n "${module_seen[$path]:-}" ] && return 0
    module_seen[$path]=1
    for dependency in ${line#*:}; do
        dependency="$(basename "$dependency")"
        add_module "${dependency%%.ko*}"
    done
    module_order+=("$path")
}
for name in virtio_pci 9pnet_virtio 9p overlay; do
    add_module "$name"
done
: > "$boot_dir/root/modules/order"
for path in "${module_order[@]}"; do
    target="$(basename "$path")"
    case "$path" in
        *.ko)    cp "$module_tree/$path" "$boot_dir/root/modules/$target" ;;
        *.ko.xz) target="${target%.xz}"; busybox xz -dc "$module_tree/$path" > "$boot_dir/root/modules/$target" ;;
        *)       fail "cannot unpack module $path" ;;
    esac
    echo "$target" >> "$boot_dir/root/modules/order"
done

# The command runs under the host's bash inside the guest; quoting each word
# keeps arguments exactly as given.
{
    echo "cd $(printf '%q' "$PWD") || exit 125"
    printf 'exec'
    printf ' %q' "$@"
    echo
} > "$boot_dir/command.sh"

cat > "$boot_dir/root/init" <<EOF
#!/bin/busybox sh
/bin/busybox mkdir -p /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
export PATH=/bin:/sbin:/usr/bin:/usr/sbin

halt_guest()
{
    sync
    poweroff -f
}

guest_failure()
{
    echo "guest: \$*" > /dev/console
    halt_guest
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Loopback only, as on any machine; there is no network device.
ip link set lo up
for module in \$(cat /modules/order); do
    insmod /modules/\$module || guest_failure "insmod \$module failed"
done

mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=524288,cache=loose hostroot /host \\
    || guest_failure "cannot mount the host's root"
# Writes to the root land in the guest's memory, so programs that expect a
# writable home, /tmp or /var work and the host stays untouched.
mount -t tmpfs tmpfs /scratch
mkdir -p /scratch/upper /scratch/work
mount -t overlay -o lowerdir=/host,upperdir=/scratch/upper,workdir=/scratch/work overlay /newroot \\
    || guest_failure "cannot lay a writable layer over the host's root"
mount -t proc proc /newroot/proc
mount -t sysfs sysfs /newroot/sys
mount -t devtmpfs devtmpfs /newroot/dev
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/dev/shm
mount -t tmpfs tmpfs /newroot/run
mkdir -p /newroot$output_dir
mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 guestoutput /newroot$output_dir \\
    || guest_failure "cannot mount the output folder"

# The sequencer core gives /dev/snd/seq; the dummy adds the "Midi Through"
# port that a desktop system has too.
chroot /newroot /sbin/modprobe -a snd-seq snd-seq-dummy \\
    || guest_failure "cannot load the ALSA sequencer modules"
[ -c /newroot/dev/snd/seq ] || guest_failure "the ALSA sequencer device did not appear"

echo "guest: running the command" > /dev/console
chroot /newroot /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin \\
    HOME=/tmp LANG=C.UTF-8 TERM=dumb \\
    /bin/bash $boot_dir/command.sh < /dev/null > /newroot$output_dir/guest-output.log 2>&1
echo \$? > /newroot$output_dir/guest-status
umount /newroot$output_dir
halt_guest
EOF
chmod +x "$boot_dir/root/init"

(cd "$boot_dir/root" && find . | busybox cpio -o -H newc -R 0:0 > "$boot_dir/initramfs.cpio" 2>/dev/null) \
    || fail "cannot build the initramfs"

console="$boot_dir/console.log"
started=$(date +%s)
set +e
timeout --kill-after=10 "$timeout_seconds" qemu-system-x86_64 \
    -accel tcg,thread=multi -cpu max -smp "$cpus" -m "$memory_mb" \
    -nodefaults -no-user-config -display none -nic none -no-reboot \
    -serial "file:$console" -monitor none \
    -kernel "$kernel" -initrd "$boot_dir/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 rdinit=/init" \
    -fsdev "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap" \
    -device "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot" \
    -fsdev "local,id=guestoutput,path=$output_dir,security_model=none,multidevs=remap" \
    -device "virtio-9p-pci,fsdev=guestoutput,mount_tag=guestoutput" \
    > "$boot_dir/qemu.log" 2>&1
qemu_status=$?
set -e
elapsed=$(( $(date +%s) - started ))

show_console()
{
    echo "run-in-guest: qemu's messages:" >&2
    tail -n 20 "$boot_dir/qemu.log" >&2
    echo "run-in-guest: the end of the guest's console:" >&2
    tail -n 40 "$console" >&2 2>/dev/null || echo "(no console output)" >&2
}

if [ -f "$output_dir/guest-output.log" ]; then
    cat "$output_dir/guest-output.log"
fi

if [ $qemu_status -eq 124 ] || [ $qemu_status -eq 137 ]; then
    echo "run-in-guest: the guest did not finish within $timeout_seconds s" >&2
    show_console
    exit 124
fi
if [ ! -s "$output_dir/guest-status" ]; then
    echo "run-in-guest: the guest ended (qemu status $qemu_status) without running the command" >&2
    show_console
    exit 125
fi

status="$(cat "$output_dir/guest-status")"
echo "run-in-guest: the command ended with status $status after ${elapsed} s in the guest"
exit "$status"
