# Sources of the xdg back ends.
