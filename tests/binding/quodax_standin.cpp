// The stand-in for libquodax.so: its recorded call, its result and 40 of its 41
// entry points (quodax_close_reader lives in a file of its own). Each entry point
// records its name and arguments and returns the result that the test set.
#include "tests/binding/quodax_standin.h"

#include "morrowtide/binding/quodax_loader.h"

extern "C" {

QuodaxStandinCall quodax_standin_call;
int32_t quodax_standin_result = 0;

int quodax_get_version(uint8_t* version_major, uint8_t* version_minor, uint16_t* version_revision,
                       uint32_t* version_build) {
  return recordStandinCall(__func__, version_major, version_minor, version_revision, version_build);
}

int quodax_create(void** pointer) { return recordStandinCall(__func__, pointer); }

int quodax_clean(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_get_error(void* pointer, char** error) {
  return recordStandinCall(__func__, pointer, error);
}

int quodax_get_warning(void* pointer, char** warning) {
  return recordStandinCall(__func__, pointer, warning);
}

int quodax_destroy(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_get_header_pointer(void* pointer, quodax_header** header_pointer) {
  return recordStandinCall(__func__, pointer, header_pointer);
}

int quodax_get_point_pointer(void* pointer, quodax_point** point_pointer) {
  return recordStandinCall(__func__, pointer, point_pointer);
}

int quodax_get_point_count(void* pointer, int64_t* count) {
  return recordStandinCall(__func__, pointer, count);
}

int quodax_set_header(void* pointer, const quodax_header* header) {
  return recordStandinCall(__func__, pointer, header);
}

int quodax_set_point_type_and_size(void* pointer, uint8_t point_type, uint16_t point_size) {
  return recordStandinCall(__func__, pointer, point_type, point_size);
}

int quodax_check_for_integer_overflow(void* pointer) {
  return recordStandinCall(__func__, pointer);
}

int quodax_auto_offset(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_set_point(void* pointer, const quodax_point* point) {
  return recordStandinCall(__func__, pointer, point);
}

int quodax_set_coordinates(void* pointer, const double* coordinates) {
  return recordStandinCall(__func__, pointer, coordinates);
}

int quodax_get_coordinates(void* pointer, double* coordinates) {
  return recordStandinCall(__func__, pointer, coordinates);
}

int quodax_set_geokeys(void* pointer, uint32_t number, const uint16_t* key_entries) {
  return recordStandinCall(__func__, pointer, number, key_entries);
}

int quodax_set_geodouble_params(void* pointer, uint32_t number, const double* geodouble_params) {
  return recordStandinCall(__func__, pointer, number, geodouble_params);
}

int quodax_set_geoascii_params(void* pointer, uint32_t number, const char* geoascii_params) {
  return recordStandinCall(__func__, pointer, number, geoascii_params);
}

int quodax_add_attribute(void* pointer, uint32_t type, const char* name, const char* description,
                         double scale, double offset) {
  return recordStandinCall(__func__, pointer, type, name, description, scale, offset);
}

int quodax_add_vlr(void* pointer, const char* user_id, uint16_t record_id,
                   uint16_t record_length_after_header, const char* description,
                   const uint8_t* data) {
  return recordStandinCall(__func__, pointer, user_id, record_id, record_length_after_header,
                           description, data);
}

int quodax_remove_vlr(void* pointer, const char* user_id, uint16_t record_id) {
  return recordStandinCall(__func__, pointer, user_id, record_id);
}

int quodax_create_spatial_index(void* pointer, int32_t create, int32_t append) {
  return recordStandinCall(__func__, pointer, create, append);
}

int quodax_preserve_generating_software(void* pointer, int32_t preserve) {
  return recordStandinCall(__func__, pointer, preserve);
}

int quodax_request_native_extension(void* pointer, int32_t request) {
  return recordStandinCall(__func__, pointer, request);
}

int quodax_request_compatibility_mode(void* pointer, int32_t request) {
  return recordStandinCall(__func__, pointer, request);
}

int quodax_set_chunk_size(void* pointer, uint32_t chunk_size) {
  return recordStandinCall(__func__, pointer, chunk_size);
}

int quodax_open_writer(void* pointer, const char* file_name, int32_t compress) {
  return recordStandinCall(__func__, pointer, file_name, compress);
}

int quodax_write_point(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_write_indexed_point(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_update_inventory(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_close_writer(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_exploit_spatial_index(void* pointer, int32_t exploit) {
  return recordStandinCall(__func__, pointer, exploit);
}

int quodax_decompress_selective(void* pointer, uint32_t decompress_selective) {
  return recordStandinCall(__func__, pointer, decompress_selective);
}

int quodax_open_reader(void* pointer, const char* file_name, int32_t* is_compressed) {
  return recordStandinCall(__func__, pointer, file_name, is_compressed);
}

int quodax_has_spatial_index(void* pointer, int32_t* is_indexed, int32_t* is_appendable) {
  return recordStandinCall(__func__, pointer, is_indexed, is_appendable);
}

int quodax_inside_rectangle(void* pointer, double min_x, double min_y, double max_x, double max_y,
                            int32_t* is_empty) {
  return recordStandinCall(__func__, pointer, min_x, min_y, max_x, max_y, is_empty);
}

int quodax_seek_point(void* pointer, int64_t index) {
  return recordStandinCall(__func__, pointer, index);
}

int quodax_read_point(void* pointer) { return recordStandinCall(__func__, pointer); }

int quodax_read_inside_point(void* pointer, int32_t* is_done) {
  return recordStandinCall(__func__, pointer, is_done);
}

}  // extern "C"
