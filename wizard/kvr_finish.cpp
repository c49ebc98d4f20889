#include "kvr_finish.h"

// Built once here, so that every program and test uses the same code.
template class gui_finish_page<kvr_finish_page_id>;
template class gui_finish_page_t<kellvar_converter, kvr_finish_page_id>;
