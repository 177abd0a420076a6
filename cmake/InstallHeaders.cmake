# Installs the public headers: src/capi/qornfce.h as <qornfce/qornfce.h>, and the component's
# headers (core/TqorNFCe.h, contingency/TqorContingencia.h) with every header of src/ they
# include, transitively, under include/qornfce/ with their src/-relative paths. The compiler's
# own dependency list finds them, so the set follows the includes.
# Expects SOURCE_DIR, CXX (the compiler) and DESTINATION (the include folder, absolute).
execute_process(
  COMMAND ${CXX} -std=c++20 -MM -I ${SOURCE_DIR}/src -x c++
          ${SOURCE_DIR}/src/core/TqorNFCe.h ${SOURCE_DIR}/src/contingency/TqorContingencia.h
  OUTPUT_VARIABLE dependencias RESULT_VARIABLE resultado ERROR_VARIABLE erro)
if(NOT resultado EQUAL 0)
  message(FATAL_ERROR "the public headers do not compile alone: ${erro}")
endif()
string(REGEX MATCHALL "${SOURCE_DIR}/src/[^ \t\r\n\\\\]+\\.h" cabecalhos "${dependencias}")
list(REMOVE_DUPLICATES cabecalhos)
file(INSTALL ${SOURCE_DIR}/src/capi/qornfce.h DESTINATION ${DESTINATION}/qornfce)
foreach(cabecalho ${cabecalhos})
  file(RELATIVE_PATH relativo ${SOURCE_DIR}/src ${cabecalho})
  get_filename_component(pasta ${relativo} DIRECTORY)
  file(INSTALL ${cabecalho} DESTINATION ${DESTINATION}/qornfce/${pasta})
endforeach()
