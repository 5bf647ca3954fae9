/* Client interface of quodax_loader, the run-time binding of the compressor's
 * shared library libquodax.so. A client links quodax_loader, calls
 * quodax_load_dll() once and then calls the library's 41 entry points under
 * their own names: each name here is a forwarder that passes every argument
 * unchanged to the function of that name in the loaded library and returns its
 * result, or returns 1 at once while that function is not bound.
 *
 * Each entry point is declared once, as a function type `<name>_fn`; the
 * forwarder `<name>` and the bound address `<name>_ptr` (null while the library
 * is not loaded) are declared from it. Plain C and C++; C linkage throughout.
 * Not thread-safe: load and unload while no other thread uses the binding. */
#ifndef MORROWTIDE_BINDING_QUODAX_LOADER_H
#define MORROWTIDE_BINDING_QUODAX_LOADER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Loads libquodax.so through the platform's dynamic loader and binds all 41
 * entry points. Returns 0 on success; 1 when the library is already loaded
 * (nothing changes), cannot be loaded, or lacks an entry point (then nothing is
 * bound and the library is released). Prints nothing. */
int quodax_load_dll(void);
/* Releases the library and unbinds every entry point. Returns 0 on success; 1
 * when no library is loaded or the loader refuses to release it (then it stays
 * loaded and bound). */
int quodax_unload_dll(void);

/* The library's own records, laid out by the library; the binding never looks
 * inside them. */
typedef struct quodax_header quodax_header;
typedef struct quodax_point quodax_point;

/* In every entry point, `pointer` is the library object that quodax_create made.
 * Flags are 0 or 1; the library's result is 0 on success. */

/* Version and lifetime of a library object. */
typedef int quodax_get_version_fn(uint8_t* version_major, uint8_t* version_minor,
                                  uint16_t* version_revision, uint32_t* version_build);
quodax_get_version_fn quodax_get_version;
extern quodax_get_version_fn* quodax_get_version_ptr;

typedef int quodax_create_fn(void** pointer);
quodax_create_fn quodax_create;
extern quodax_create_fn* quodax_create_ptr;

typedef int quodax_clean_fn(void* pointer);
quodax_clean_fn quodax_clean;
extern quodax_clean_fn* quodax_clean_ptr;

/* Last error and warning texts, owned by the library object. */
typedef int quodax_get_error_fn(void* pointer, char** error);
quodax_get_error_fn quodax_get_error;
extern quodax_get_error_fn* quodax_get_error_ptr;

typedef int quodax_get_warning_fn(void* pointer, char** warning);
quodax_get_warning_fn quodax_get_warning;
extern quodax_get_warning_fn* quodax_get_warning_ptr;

typedef int quodax_destroy_fn(void* pointer);
quodax_destroy_fn quodax_destroy;
extern quodax_destroy_fn* quodax_destroy_ptr;

/* Header and current point of the object, and its point count. */
typedef int quodax_get_header_pointer_fn(void* pointer, quodax_header** header_pointer);
quodax_get_header_pointer_fn quodax_get_header_pointer;
extern quodax_get_header_pointer_fn* quodax_get_header_pointer_ptr;

typedef int quodax_get_point_pointer_fn(void* pointer, quodax_point** point_pointer);
quodax_get_point_pointer_fn quodax_get_point_pointer;
extern quodax_get_point_pointer_fn* quodax_get_point_pointer_ptr;

typedef int quodax_get_point_count_fn(void* pointer, int64_t* count);
quodax_get_point_count_fn quodax_get_point_count;
extern quodax_get_point_count_fn* quodax_get_point_count_ptr;

typedef int quodax_set_header_fn(void* pointer, const quodax_header* header);
quodax_set_header_fn quodax_set_header;
extern quodax_set_header_fn* quodax_set_header_ptr;

typedef int quodax_set_point_type_and_size_fn(void* pointer, uint8_t point_type,
                                              uint16_t point_size);
quodax_set_point_type_and_size_fn quodax_set_point_type_and_size;
extern quodax_set_point_type_and_size_fn* quodax_set_point_type_and_size_ptr;

typedef int quodax_check_for_integer_overflow_fn(void* pointer);
quodax_check_for_integer_overflow_fn quodax_check_for_integer_overflow;
extern quodax_check_for_integer_overflow_fn* quodax_check_for_integer_overflow_ptr;

typedef int quodax_auto_offset_fn(void* pointer);
quodax_auto_offset_fn quodax_auto_offset;
extern quodax_auto_offset_fn* quodax_auto_offset_ptr;

typedef int quodax_set_point_fn(void* pointer, const quodax_point* point);
quodax_set_point_fn quodax_set_point;
extern quodax_set_point_fn* quodax_set_point_ptr;

/* `coordinates` holds x, y and z. */
typedef int quodax_set_coordinates_fn(void* pointer, const double* coordinates);
quodax_set_coordinates_fn quodax_set_coordinates;
extern quodax_set_coordinates_fn* quodax_set_coordinates_ptr;

typedef int quodax_get_coordinates_fn(void* pointer, double* coordinates);
quodax_get_coordinates_fn quodax_get_coordinates;
extern quodax_get_coordinates_fn* quodax_get_coordinates_ptr;

/* Geo-referencing: `number` key entries of four U16 each, doubles, or characters. */
typedef int quodax_set_geokeys_fn(void* pointer, uint32_t number, const uint16_t* key_entries);
quodax_set_geokeys_fn quodax_set_geokeys;
extern quodax_set_geokeys_fn* quodax_set_geokeys_ptr;

typedef int quodax_set_geodouble_params_fn(void* pointer, uint32_t number,
                                           const double* geodouble_params);
quodax_set_geodouble_params_fn quodax_set_geodouble_params;
extern quodax_set_geodouble_params_fn* quodax_set_geodouble_params_ptr;

typedef int quodax_set_geoascii_params_fn(void* pointer, uint32_t number,
                                          const char* geoascii_params);
quodax_set_geoascii_params_fn quodax_set_geoascii_params;
extern quodax_set_geoascii_params_fn* quodax_set_geoascii_params_ptr;

/* Extra attributes and variable-length records. */
typedef int quodax_add_attribute_fn(void* pointer, uint32_t type, const char* name,
                                    const char* description, double scale, double offset);
quodax_add_attribute_fn quodax_add_attribute;
extern quodax_add_attribute_fn* quodax_add_attribute_ptr;

typedef int quodax_add_vlr_fn(void* pointer, const char* user_id, uint16_t record_id,
                              uint16_t record_length_after_header, const char* description,
                              const uint8_t* data);
quodax_add_vlr_fn quodax_add_vlr;
extern quodax_add_vlr_fn* quodax_add_vlr_ptr;

typedef int quodax_remove_vlr_fn(void* pointer, const char* user_id, uint16_t record_id);
quodax_remove_vlr_fn quodax_remove_vlr;
extern quodax_remove_vlr_fn* quodax_remove_vlr_ptr;

/* Writer settings. */
typedef int quodax_create_spatial_index_fn(void* pointer, int32_t create, int32_t append);
quodax_create_spatial_index_fn quodax_create_spatial_index;
extern quodax_create_spatial_index_fn* quodax_create_spatial_index_ptr;

typedef int quodax_preserve_generating_software_fn(void* pointer, int32_t preserve);
quodax_preserve_generating_software_fn quodax_preserve_generating_software;
extern quodax_preserve_generating_software_fn* quodax_preserve_generating_software_ptr;

typedef int quodax_request_native_extension_fn(void* pointer, int32_t request);
quodax_request_native_extension_fn quodax_request_native_extension;
extern quodax_request_native_extension_fn* quodax_request_native_extension_ptr;

typedef int quodax_request_compatibility_mode_fn(void* pointer, int32_t request);
quodax_request_compatibility_mode_fn quodax_request_compatibility_mode;
extern quodax_request_compatibility_mode_fn* quodax_request_compatibility_mode_ptr;

typedef int quodax_set_chunk_size_fn(void* pointer, uint32_t chunk_size);
quodax_set_chunk_size_fn quodax_set_chunk_size;
extern quodax_set_chunk_size_fn* quodax_set_chunk_size_ptr;

/* Writing. */
typedef int quodax_open_writer_fn(void* pointer, const char* file_name, int32_t compress);
quodax_open_writer_fn quodax_open_writer;
extern quodax_open_writer_fn* quodax_open_writer_ptr;

typedef int quodax_write_point_fn(void* pointer);
quodax_write_point_fn quodax_write_point;
extern quodax_write_point_fn* quodax_write_point_ptr;

typedef int quodax_write_indexed_point_fn(void* pointer);
quodax_write_indexed_point_fn quodax_write_indexed_point;
extern quodax_write_indexed_point_fn* quodax_write_indexed_point_ptr;

typedef int quodax_update_inventory_fn(void* pointer);
quodax_update_inventory_fn quodax_update_inventory;
extern quodax_update_inventory_fn* quodax_update_inventory_ptr;

typedef int quodax_close_writer_fn(void* pointer);
quodax_close_writer_fn quodax_close_writer;
extern quodax_close_writer_fn* quodax_close_writer_ptr;

/* Reading. */
typedef int quodax_exploit_spatial_index_fn(void* pointer, int32_t exploit);
quodax_exploit_spatial_index_fn quodax_exploit_spatial_index;
extern quodax_exploit_spatial_index_fn* quodax_exploit_spatial_index_ptr;

typedef int quodax_decompress_selective_fn(void* pointer, uint32_t decompress_selective);
quodax_decompress_selective_fn quodax_decompress_selective;
extern quodax_decompress_selective_fn* quodax_decompress_selective_ptr;

typedef int quodax_open_reader_fn(void* pointer, const char* file_name, int32_t* is_compressed);
quodax_open_reader_fn quodax_open_reader;
extern quodax_open_reader_fn* quodax_open_reader_ptr;

typedef int quodax_has_spatial_index_fn(void* pointer, int32_t* is_indexed, int32_t* is_appendable);
quodax_has_spatial_index_fn quodax_has_spatial_index;
extern quodax_has_spatial_index_fn* quodax_has_spatial_index_ptr;

/* Restricts reading to a rectangle of real coordinates; `is_empty` reports when
 * no point can lie in it. */
typedef int quodax_inside_rectangle_fn(void* pointer, double min_x, double min_y, double max_x,
                                       double max_y, int32_t* is_empty);
quodax_inside_rectangle_fn quodax_inside_rectangle;
extern quodax_inside_rectangle_fn* quodax_inside_rectangle_ptr;

typedef int quodax_seek_point_fn(void* pointer, int64_t index);
quodax_seek_point_fn quodax_seek_point;
extern quodax_seek_point_fn* quodax_seek_point_ptr;

typedef int quodax_read_point_fn(void* pointer);
quodax_read_point_fn quodax_read_point;
extern quodax_read_point_fn* quodax_read_point_ptr;

typedef int quodax_read_inside_point_fn(void* pointer, int32_t* is_done);
quodax_read_inside_point_fn quodax_read_inside_point;
extern quodax_read_inside_point_fn* quodax_read_inside_point_ptr;

typedef int quodax_close_reader_fn(void* pointer);
quodax_close_reader_fn quodax_close_reader;
extern quodax_close_reader_fn* quodax_close_reader_ptr;

#ifdef __cplusplus
}
#endif

#endif /* MORROWTIDE_BINDING_QUODAX_LOADER_H */
