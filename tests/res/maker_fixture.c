/* A program that only carries a version block for the launcher's maker check. */
int main(void) { return 0; }
