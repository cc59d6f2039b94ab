// Placeholder so that the library has a source until the subsystem grows one.
