// The translation unit that GoogleTest's precompiled headers are made from, once per build; every
// test program reuses them.
