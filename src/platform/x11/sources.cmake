# Sources of the x11 back ends.
