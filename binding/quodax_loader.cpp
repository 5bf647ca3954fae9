// The binding of libquodax.so: one relocatable object holding the 41 bound
// addresses, the load and unload functions and one forwarder per entry point.
// It needs nothing of this repository and nothing of the C++ runtime, only the
// platform's dynamic loader, so C and C++ clients alike can link it.
//
// Invariant: the library handle and the 41 addresses are set together by a
// complete load and cleared together, so while the library is not loaded every
// address is null and every forwarder returns 1.
#include "morrowtide/binding/quodax_loader.h"

#include <dlfcn.h>

#include <cstring>

extern "C" {
quodax_get_version_fn* quodax_get_version_ptr = nullptr;
quodax_create_fn* quodax_create_ptr = nullptr;
quodax_clean_fn* quodax_clean_ptr = nullptr;
quodax_get_error_fn* quodax_get_error_ptr = nullptr;
quodax_get_warning_fn* quodax_get_warning_ptr = nullptr;
quodax_destroy_fn* quodax_destroy_ptr = nullptr;
quodax_get_header_pointer_fn* quodax_get_header_pointer_ptr = nullptr;
quodax_get_point_pointer_fn* quodax_get_point_pointer_ptr = nullptr;
quodax_get_point_count_fn* quodax_get_point_count_ptr = nullptr;
quodax_set_header_fn* quodax_set_header_ptr = nullptr;
quodax_set_point_type_and_size_fn* quodax_set_point_type_and_size_ptr = nullptr;
quodax_check_for_integer_overflow_fn* quodax_check_for_integer_overflow_ptr = nullptr;
quodax_auto_offset_fn* quodax_auto_offset_ptr = nullptr;
quodax_set_point_fn* quodax_set_point_ptr = nullptr;
quodax_set_coordinates_fn* quodax_set_coordinates_ptr = nullptr;
quodax_get_coordinates_fn* quodax_get_coordinates_ptr = nullptr;
quodax_set_geokeys_fn* quodax_set_geokeys_ptr = nullptr;
quodax_set_geodouble_params_fn* quodax_set_geodouble_params_ptr = nullptr;
quodax_set_geoascii_params_fn* quodax_set_geoascii_params_ptr = nullptr;
quodax_add_attribute_fn* quodax_add_attribute_ptr = nullptr;
quodax_add_vlr_fn* quodax_add_vlr_ptr = nullptr;
quodax_remove_vlr_fn* quodax_remove_vlr_ptr = nullptr;
quodax_create_spatial_index_fn* quodax_create_spatial_index_ptr = nullptr;
quodax_preserve_generating_software_fn* quodax_preserve_generating_software_ptr = nullptr;
quodax_request_native_extension_fn* quodax_request_native_extension_ptr = nullptr;
quodax_request_compatibility_mode_fn* quodax_request_compatibility_mode_ptr = nullptr;
quodax_set_chunk_size_fn* quodax_set_chunk_size_ptr = nullptr;
quodax_open_writer_fn* quodax_open_writer_ptr = nullptr;
quodax_write_point_fn* quodax_write_point_ptr = nullptr;
quodax_write_indexed_point_fn* quodax_write_indexed_point_ptr = nullptr;
quodax_update_inventory_fn* quodax_update_inventory_ptr = nullptr;
quodax_close_writer_fn* quodax_close_writer_ptr = nullptr;
quodax_exploit_spatial_index_fn* quodax_exploit_spatial_index_ptr = nullptr;
quodax_decompress_selective_fn* quodax_decompress_selective_ptr = nullptr;
quodax_open_reader_fn* quodax_open_reader_ptr = nullptr;
quodax_has_spatial_index_fn* quodax_has_spatial_index_ptr = nullptr;
quodax_inside_rectangle_fn* quodax_inside_rectangle_ptr = nullptr;
quodax_seek_point_fn* quodax_seek_point_ptr = nullptr;
quodax_read_point_fn* quodax_read_point_ptr = nullptr;
quodax_read_inside_point_fn* quodax_read_inside_point_ptr = nullptr;
quodax_close_reader_fn* quodax_close_reader_ptr = nullptr;
}

namespace {

// Handle of the loaded libquodax.so; null = not loaded.
void* quodax_HINSTANCE = nullptr;

// One entry point to bind: its exported name and the address of its pointer.
struct Binding {
  const char* name;
  void* slot;
};

// In the order of binding.
const Binding kBindings[] = {
    {"quodax_get_version", &quodax_get_version_ptr},
    {"quodax_create", &quodax_create_ptr},
    {"quodax_clean", &quodax_clean_ptr},
    {"quodax_get_error", &quodax_get_error_ptr},
    {"quodax_get_warning", &quodax_get_warning_ptr},
    {"quodax_destroy", &quodax_destroy_ptr},
    {"quodax_get_header_pointer", &quodax_get_header_pointer_ptr},
    {"quodax_get_point_pointer", &quodax_get_point_pointer_ptr},
    {"quodax_get_point_count", &quodax_get_point_count_ptr},
    {"quodax_set_header", &quodax_set_header_ptr},
    {"quodax_set_point_type_and_size", &quodax_set_point_type_and_size_ptr},
    {"quodax_check_for_integer_overflow", &quodax_check_for_integer_overflow_ptr},
    {"quodax_auto_offset", &quodax_auto_offset_ptr},
    {"quodax_set_point", &quodax_set_point_ptr},
    {"quodax_set_coordinates", &quodax_set_coordinates_ptr},
    {"quodax_get_coordinates", &quodax_get_coordinates_ptr},
    {"quodax_set_geokeys", &quodax_set_geokeys_ptr},
    {"quodax_set_geodouble_params", &quodax_set_geodouble_params_ptr},
    {"quodax_set_geoascii_params", &quodax_set_geoascii_params_ptr},
    {"quodax_add_attribute", &quodax_add_attribute_ptr},
    {"quodax_add_vlr", &quodax_add_vlr_ptr},
    {"quodax_remove_vlr", &quodax_remove_vlr_ptr},
    {"quodax_create_spatial_index", &quodax_create_spatial_index_ptr},
    {"quodax_preserve_generating_software", &quodax_preserve_generating_software_ptr},
    {"quodax_request_native_extension", &quodax_request_native_extension_ptr},
    {"quodax_request_compatibility_mode", &quodax_request_compatibility_mode_ptr},
    {"quodax_set_chunk_size", &quodax_set_chunk_size_ptr},
    {"quodax_open_writer", &quodax_open_writer_ptr},
    {"quodax_write_point", &quodax_write_point_ptr},
    {"quodax_write_indexed_point", &quodax_write_indexed_point_ptr},
    {"quodax_update_inventory", &quodax_update_inventory_ptr},
    {"quodax_close_writer", &quodax_close_writer_ptr},
    {"quodax_exploit_spatial_index", &quodax_exploit_spatial_index_ptr},
    {"quodax_decompress_selective", &quodax_decompress_selective_ptr},
    {"quodax_open_reader", &quodax_open_reader_ptr},
    {"quodax_has_spatial_index", &quodax_has_spatial_index_ptr},
    {"quodax_inside_rectangle", &quodax_inside_rectangle_ptr},
    {"quodax_seek_point", &quodax_seek_point_ptr},
    {"quodax_read_point", &quodax_read_point_ptr},
    {"quodax_read_inside_point", &quodax_read_inside_point_ptr},
    {"quodax_close_reader", &quodax_close_reader_ptr},
};
static_assert(sizeof(kBindings) / sizeof(kBindings[0]) == 41, "one binding per entry point");

// dlsym hands out code addresses as void*; POSIX guarantees that a function
// pointer has the same size and representation, so the address is copied into
// the typed pointer byte for byte.
static_assert(sizeof(void*) == sizeof(quodax_get_version_fn*), "void* holds a code address");

void setSlot(void* slot, void* address) { std::memcpy(slot, &address, sizeof(address)); }

void unbindAll() {
  for (const Binding& binding : kBindings) setSlot(binding.slot, nullptr);
}

// Calls `bound` with the caller's arguments as they came, or returns 1 when it is
// null. The pointer is read once, by the caller of this function.
template <typename Function, typename... Arguments>
inline int forward(Function* bound, Arguments... arguments) {
  if (bound == nullptr) return 1;
  return bound(arguments...);
}

}  // namespace

extern "C" {

int quodax_load_dll(void) {
  if (quodax_HINSTANCE != nullptr) return 1;
  quodax_HINSTANCE = dlopen("libquodax.so", RTLD_NOW);
  if (quodax_HINSTANCE == nullptr) return 1;
  for (const Binding& binding : kBindings) {
    void* address = dlsym(quodax_HINSTANCE, binding.name);
    if (address == nullptr) {
      // A partial binding is never left behind.
      dlclose(quodax_HINSTANCE);
      quodax_HINSTANCE = nullptr;
      unbindAll();
      return 1;
    }
    setSlot(binding.slot, address);
  }
  return 0;
}

int quodax_unload_dll(void) {
  if (quodax_HINSTANCE == nullptr) return 1;
  // A library that the loader keeps stays bound: its addresses are still valid.
  if (dlclose(quodax_HINSTANCE) != 0) return 1;
  quodax_HINSTANCE = nullptr;
  unbindAll();
  return 0;
}

int quodax_get_version(uint8_t* version_major, uint8_t* version_minor, uint16_t* version_revision,
                       uint32_t* version_build) {
  return forward(quodax_get_version_ptr, version_major, version_minor, version_revision,
                 version_build);
}

int quodax_create(void** pointer) { return forward(quodax_create_ptr, pointer); }

int quodax_clean(void* pointer) { return forward(quodax_clean_ptr, pointer); }

int quodax_get_error(void* pointer, char** error) {
  return forward(quodax_get_error_ptr, pointer, error);
}

int quodax_get_warning(void* pointer, char** warning) {
  return forward(quodax_get_warning_ptr, pointer, warning);
}

int quodax_destroy(void* pointer) { return forward(quodax_destroy_ptr, pointer); }

int quodax_get_header_pointer(void* pointer, quodax_header** header_pointer) {
  return forward(quodax_get_header_pointer_ptr, pointer, header_pointer);
}

int quodax_get_point_pointer(void* pointer, quodax_point** point_pointer) {
  return forward(quodax_get_point_pointer_ptr, pointer, point_pointer);
}

int quodax_get_point_count(void* pointer, int64_t* count) {
  return forward(quodax_get_point_count_ptr, pointer, count);
}

int quodax_set_header(void* pointer, const quodax_header* header) {
  return forward(quodax_set_header_ptr, pointer, header);
}

int quodax_set_point_type_and_size(void* pointer, uint8_t point_type, uint16_t point_size) {
  return forward(quodax_set_point_type_and_size_ptr, pointer, point_type, point_size);
}

int quodax_check_for_integer_overflow(void* pointer) {
  return forward(quodax_check_for_integer_overflow_ptr, pointer);
}

int quodax_auto_offset(void* pointer) { return forward(quodax_auto_offset_ptr, pointer); }

int quodax_set_point(void* pointer, const quodax_point* point) {
  return forward(quodax_set_point_ptr, pointer, point);
}

int quodax_set_coordinates(void* pointer, const double* coordinates) {
  return forward(quodax_set_coordinates_ptr, pointer, coordinates);
}

int quodax_get_coordinates(void* pointer, double* coordinates) {
  return forward(quodax_get_coordinates_ptr, pointer, coordinates);
}

int quodax_set_geokeys(void* pointer, uint32_t number, const uint16_t* key_entries) {
  return forward(quodax_set_geokeys_ptr, pointer, number, key_entries);
}

int quodax_set_geodouble_params(void* pointer, uint32_t number, const double* geodouble_params) {
  return forward(quodax_set_geodouble_params_ptr, pointer, number, geodouble_params);
}

int quodax_set_geoascii_params(void* pointer, uint32_t number, const char* geoascii_params) {
  return forward(quodax_set_geoascii_params_ptr, pointer, number, geoascii_params);
}

int quodax_add_attribute(void* pointer, uint32_t type, const char* name, const char* description,
                         double scale, double offset) {
  return forward(quodax_add_attribute_ptr, pointer, type, name, description, scale, offset);
}

int quodax_add_vlr(void* pointer, const char* user_id, uint16_t record_id,
                   uint16_t record_length_after_header, const char* description,
                   const uint8_t* data) {
  return forward(quodax_add_vlr_ptr, pointer, user_id, record_id, record_length_after_header,
                 description, data);
}

int quodax_remove_vlr(void* pointer, const char* user_id, uint16_t record_id) {
  return forward(quodax_remove_vlr_ptr, pointer, user_id, record_id);
}

int quodax_create_spatial_index(void* pointer, int32_t create, int32_t append) {
  return forward(quodax_create_spatial_index_ptr, pointer, create, append);
}

int quodax_preserve_generating_software(void* pointer, int32_t preserve) {
  return forward(quodax_preserve_generating_software_ptr, pointer, preserve);
}

int quodax_request_native_extension(void* pointer, int32_t request) {
  return forward(quodax_request_native_extension_ptr, pointer, request);
}

int quodax_request_compatibility_mode(void* pointer, int32_t request) {
  return forward(quodax_request_compatibility_mode_ptr, pointer, request);
}

int quodax_set_chunk_size(void* pointer, uint32_t chunk_size) {
  return forward(quodax_set_chunk_size_ptr, pointer, chunk_size);
}

int quodax_open_writer(void* pointer, const char* file_name, int32_t compress) {
  return forward(quodax_open_writer_ptr, pointer, file_name, compress);
}

int quodax_write_point(void* pointer) { return forward(quodax_write_point_ptr, pointer); }

int quodax_write_indexed_point(void* pointer) {
  return forward(quodax_write_indexed_point_ptr, pointer);
}

int quodax_update_inventory(void* pointer) { return forward(quodax_update_inventory_ptr, pointer); }

int quodax_close_writer(void* pointer) { return forward(quodax_close_writer_ptr, pointer); }

int quodax_exploit_spatial_index(void* pointer, int32_t exploit) {
  return forward(quodax_exploit_spatial_index_ptr, pointer, exploit);
}

int quodax_decompress_selective(void* pointer, uint32_t decompress_selective) {
  return forward(quodax_decompress_selective_ptr, pointer, decompress_selective);
}

int quodax_open_reader(void* pointer, const char* file_name, int32_t* is_compressed) {
  return forward(quodax_open_reader_ptr, pointer, file_name, is_compressed);
}

int quodax_has_spatial_index(void* pointer, int32_t* is_indexed, int32_t* is_appendable) {
  return forward(quodax_has_spatial_index_ptr, pointer, is_indexed, is_appendable);
}

int quodax_inside_rectangle(void* pointer, double min_x, double min_y, double max_x, double max_y,
                            int32_t* is_empty) {
  return forward(quodax_inside_rectangle_ptr, pointer, min_x, min_y, max_x, max_y, is_empty);
}

int quodax_seek_point(void* pointer, int64_t index) {
  return forward(quodax_seek_point_ptr, pointer, index);
}

int quodax_read_point(void* pointer) { return forward(quodax_read_point_ptr, pointer); }

int quodax_read_inside_point(void* pointer, int32_t* is_done) {
  return forward(quodax_read_inside_point_ptr, pointer, is_done);
}

int quodax_close_reader(void* pointer) { return forward(quodax_close_reader_ptr, pointer); }

}  // extern "C"
