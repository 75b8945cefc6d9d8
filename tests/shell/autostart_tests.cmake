# Tests of the shell's autostart part.
