# The capture families use the fake devices of the portable layer: no media.
