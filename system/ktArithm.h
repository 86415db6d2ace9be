// Small arithmetic and choice helpers.
#pragma once

// A copy of the first value when the condition holds, else of the second.
template <typename T> T IfThen(bool condition, const T& whenTrue, const T& whenFalse) {
    return condition ? whenTrue : whenFalse;
}
