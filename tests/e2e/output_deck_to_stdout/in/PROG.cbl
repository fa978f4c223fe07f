       COPY M.
       COPY GONE.
