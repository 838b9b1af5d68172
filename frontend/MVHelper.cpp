// Written with its layer.
