#include "EntryPoint.h"

int main() { return RunEntryPoint(); }
