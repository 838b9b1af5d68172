// Filled in by the platform work.
