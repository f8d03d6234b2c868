# Sources of the stores area.
