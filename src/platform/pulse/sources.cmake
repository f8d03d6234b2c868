# Sources of the pulse back ends.
