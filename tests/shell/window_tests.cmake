# Tests of the shell's window part.
