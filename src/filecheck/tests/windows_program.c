/* The smallest Windows program, built with MinGW-w64 as a detection sample. */
int main(void) { return 0; }
