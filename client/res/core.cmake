target_sources(mirvo_client_core PRIVATE res/string_table.cpp res/strings.cpp)
