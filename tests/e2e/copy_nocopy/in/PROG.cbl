       COPY NCM.
-INC NCD
       ++INCLUDE NCP
       copy NCM.
