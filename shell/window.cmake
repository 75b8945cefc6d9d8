# Sources of the shell's window part.
