// A program that does nothing but carry the icon and version resources that korvane_add_resources compiles
// into it.
int main() { return 0; }
