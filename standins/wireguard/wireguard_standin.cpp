// Placeholder until the engine stand-in exports the WireGuard-NT entry points.
extern "C" int tarvo_wireguard_standin_version() { return 0; }
