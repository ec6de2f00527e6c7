# cmake -DIN=file -DOUT=file -DVERSION=x.y.z -P ConfigureVersion.cmake
configure_file(${IN} ${OUT} @ONLY)
