// The mutation tool's own file: each line below gives known mutants.
int Sample(int n, const char *s)
    if (n < 0)
        return 1;   // "a < b" in a comment and "x == y" in a string are no code
    n = Twice(n);
    while (n - 2 == s[0]) {
