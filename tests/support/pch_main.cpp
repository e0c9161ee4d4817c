// The program that carries the tests' precompiled headers; never run.
int main() { return 0; }
