/* The host's side of the qemu-user preload: programs of this machine that
 * the emulated ones start inherit the preload setting and load this empty
 * library instead of failing to load the arm64 one. */
int luma_qemu_preload_host;
