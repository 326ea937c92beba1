// Shared helpers for the tests live in this folder.
