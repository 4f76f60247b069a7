// Windows hands a program its command line as one string, and the C runtime
// splits it. Asking the runtime to expand wildcard patterns into the names of
// matching files, as a Unix shell would, lets "bytemend *.rom ..." behave on
// both alike. A pattern that matches nothing stays as typed.
extern "C" {
int _dowildcard = -1;
}
