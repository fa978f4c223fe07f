       WORKING-STORAGE SECTION.
       COPY M.
       COPY N.
