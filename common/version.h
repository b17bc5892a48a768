#pragma once

// Both programs carry the same version; the server reads VERSION_ID from the handshake.
#define VERSION "1.1.23081003"
#define VERSION_ID "23081003"

// Key of the local request signature, identical in both programs.
#define SECRET_KEY "mystic_rb_vendor"

// Local listener ports: the service listens on the first, the player on the second.
constexpr quint16 SERVICE_PORT = 12222;
constexpr quint16 PLAYER_PORT = 12223;
