#pragma once
// Size-checked access to a request's buffers, as the kernel driver checks them before
// it touches anything: exact input sizes, output capacities of at least the record.
#include "driverlib/OxluneStatus.h"
#include "simulator/SimDriver.h"

#include <cstdint>
#include <cstring>

inline uint32_t SimNoInput(const SimRequest& request)
{
    return request.inSize == 0 ? 0 : OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
}

template <class T>
uint32_t SimReadInput(const SimRequest& request, T* value)
{
    if (request.inSize != sizeof(T) || request.in == nullptr) {
        return OXLUNE_STATUS_INVALID_INBUFFER_SIZE;
    }
    std::memcpy(value, request.in, sizeof(T));
    return 0;
}

inline uint32_t SimCheckOutput(const SimRequest& request, uint32_t size)
{
    return request.outCapacity >= size && (size == 0 || request.out != nullptr) ? 0
                                                                              : OXLUNE_STATUS_INVALID_OUTBUFFER_SIZE;
}

template <class T>
uint32_t SimWriteOutput(SimRequest& request, const T& value)
{
    if (const uint32_t status = SimCheckOutput(request, sizeof(T)); status != 0) {
        return status;
    }
    std::memcpy(request.out, &value, sizeof(T));
    request.bytesReturned = sizeof(T);
    return 0;
}
