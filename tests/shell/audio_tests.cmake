# Tests of the shell's audio part.
