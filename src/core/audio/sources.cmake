# Sources of the audio area.
