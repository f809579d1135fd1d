// Entry point of kalimbro.
int main() { return 0; }
