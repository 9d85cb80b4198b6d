/* Something to find by name once the library is loaded. */
int dzcrash_test_image_function(int value) {
    return value * 3 + 1;
}
