/* The program that tests/platform/make_signed_samples.sh signs, leaves
 * unsigned and tampers with: the signature tests only check it, never run it. */
int main(void) { return 0; }
