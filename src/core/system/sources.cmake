# Sources of the system area.
