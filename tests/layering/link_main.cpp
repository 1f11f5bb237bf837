// SPDX-License-Identifier: Apache-2.0
// Links one layer's whole library with the layers it lists and nothing else: a call to a
// layer above it leaves a symbol undefined, and the build fails here.
int main() {
    return 0;
}
