# Copies the installation data, and the official schema package when one is known, beside the
# executables. Runs at every build; copy_directory only rewrites what changed.
file(COPY ${SOURCE_DATA}/ DESTINATION ${TARGET})
if(ESQUEMAS AND EXISTS ${ESQUEMAS})
  file(GLOB xsds ${ESQUEMAS}/*.xsd)
  file(COPY ${xsds} DESTINATION ${TARGET}/Esquemas/vm60)
  # Layout 3.10 keeps its own folder with the files that layout needs; every manual version
  # before vm60 speaks it.
  file(GLOB xsds310 ${ESQUEMAS}/*_v3.10.xsd ${ESQUEMAS}/xmldsig-core-schema_v1.01.xsd
       ${ESQUEMAS}/*EventoCanc*_v1.00.xsd ${ESQUEMAS}/leiauteEvento_v1.00.xsd
       ${ESQUEMAS}/tiposBasico_v1.03.xsd)
  foreach(vm vm50 vm50a vm50b)
    file(COPY ${xsds310} DESTINATION ${TARGET}/Esquemas/${vm})
  endforeach()
  # The EPEC batch schema the component names is the package's eventoEPEC_v0.01.xsd, which
  # libxml2 cannot compile (TCOrgaoIBGE is defined twice); eventoEPEC_v1.00.xsd is the same
  # schema without the duplicate, installed under the designed name with its two includes.
  file(COPY ${ESQUEMAS}/xmldsig-core-schema_v1.01.xsd ${ESQUEMAS}/tiposBasico_v3.10.xsd
       DESTINATION ${TARGET}/Esquemas/epec)
  configure_file(${ESQUEMAS}/eventoEPEC_v1.00.xsd ${TARGET}/Esquemas/epec/eventoEPEC_v0.01.xsd
                 COPYONLY)
endif()
# The 3.10 mapping is the same for the three versions that use that layout.
foreach(vm vm50 vm50a)
  file(COPY ${SOURCE_DATA}/Esquemas/vm50b/Mapping.txt DESTINATION ${TARGET}/Esquemas/${vm})
endforeach()
# One dictionary of the TX2 dataset model serves every schema package: each manual-version
# folder the converter may use gets the same file.
if(EXISTS ${SOURCE_DATA}/Templates/vm60/Conversor)
  foreach(vm vm50 vm50a vm50b)
    file(COPY ${SOURCE_DATA}/Templates/vm60/Conversor DESTINATION ${TARGET}/Templates/${vm})
  endforeach()
endif()
