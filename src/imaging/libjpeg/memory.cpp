// libjpeg-turbo's system-dependent memory manager (the part its jmemsys.h leaves to the system), made
// the program's own: every block the library asks for comes from operator new, the program's allocator,
// so memory that runs out inside the library fails as it does anywhere else in the program (the
// library's JERR_OUT_OF_MEMORY, the page left as it was), and a test can make it run out. Linked as an
// object ahead of the library, so that the library's own (jmemnobs.c) is never taken. Everything is
// held in memory: there is no backing store to spill to.
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <new>

#include <jerror.h>
#include <jpeglib.h>
extern "C" {
#include <jmemsys.h>
}

extern "C" {

void* jpeg_get_small(j_common_ptr, std::size_t size)
{
    return ::operator new(size, std::nothrow);
}

void jpeg_free_small(j_common_ptr, void* block, std::size_t)
{
    ::operator delete(block);
}

void* jpeg_get_large(j_common_ptr, std::size_t size)
{
    return ::operator new(size, std::nothrow);
}

void jpeg_free_large(j_common_ptr, void* block, std::size_t)
{
    ::operator delete(block);
}

// All that is asked for, within the limit a program may set in max_memory_to_use.
std::size_t jpeg_mem_available(j_common_ptr info, std::size_t, std::size_t wanted, std::size_t allocated)
{
    auto limit = static_cast<std::size_t>(info->mem->max_memory_to_use);
    if (limit == 0) return wanted;
    return limit > allocated ? limit - allocated : 0;
}

void jpeg_open_backing_store(j_common_ptr info, backing_store_ptr, long)
{
    ERREXIT(info, JERR_NO_BACKING_STORE);
}

long jpeg_mem_init(j_common_ptr)
{
    return 0;  // no limit of our own
}

void jpeg_mem_term(j_common_ptr) {}

}  // extern "C"
