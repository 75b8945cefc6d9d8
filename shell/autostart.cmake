# Sources of the shell's autostart part.
