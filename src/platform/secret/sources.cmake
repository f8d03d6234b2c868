# Sources of the secret back ends.
