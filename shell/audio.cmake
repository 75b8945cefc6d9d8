# Sources of the shell's audio part.
