// Placeholder until the installer stand-in records and applies its command.
int main() { return 0; }
